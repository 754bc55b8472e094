// vltestagent - stands in for the agent in the console's browser test: it sends the agent's binary
// records to vlpolicyd on 127.0.0.1 through the tests' own client and prints the answer as the
// operator's tool words it.
//
//   vltestagent PORT login USER PASSWORD          -> the five status digits
//   vltestagent PORT takeout USER START END REASON -> the new take-out key (exit 1 and the status when refused)
//                                                   after a login of USER, as the agent makes it (the
//                                                   demonstration passwords, or VLTESTAGENT_PASSWORD)
//   vltestagent PORT status KEY                   -> requested | approved from YYYY-MM-DD to YYYY-MM-DD | refused | ...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "TestClient.h"

namespace {

using namespace vlpolicy::test;

std::string Text(const std::string& bytes, size_t offset, size_t width)
{
    const std::string field = bytes.substr(offset, width);
    return field.substr(0, field.find('\0'));
}

std::string ShowDate(const std::string& date)
{
    return date.size() == 8 ? date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) : date;
}

int Usage()
{
    fprintf(stderr, "usage: vltestagent PORT login USER PASSWORD | takeout USER START END REASON | status KEY\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    TestClient client(atoi(argv[1]));
    const std::string command = argv[2];
    if (command == "login" && argc == 5) {
        const std::string reply = client.Post("/agent", LoginRecord(argv[3], argv[4])).body;
        printf("%s\n", reply.substr(0, 5).c_str());
        return reply.compare(0, 5, "40000") == 0 ? 0 : 1;
    }
    if (command == "takeout" && argc == 7) {
        // The server answers a record naming a user only where that user has logged in.
        const std::string user = argv[3];
        const char* other = getenv("VLTESTAGENT_PASSWORD");
        const std::string password = user == "demo01" ? "demo-pass-01"
                                     : user == "demo02" ? "demo-pass-02"
                                                        : (other != nullptr ? other : "");
        const std::string login = client.Post("/agent", LoginRecord(user, password)).body;
        if (login.compare(0, 5, "40000") != 0) {
            printf("%s\n", login.substr(0, 5).c_str());
            return 1;
        }
        const std::string reply = client.Post("/agent", TakeOutRecord("_%REQ_OUT%_", argv[3], argv[6], argv[4], argv[5])).body;
        // 40000, then the 85-byte take-out message: tag, 20 reserved bytes, the 50-byte key, status.
        if (reply.compare(0, 5, "40000") != 0 || reply.size() != 5 + 85) {
            printf("%s\n", reply.substr(0, 5).c_str());
            return 1;
        }
        printf("%s\n", Text(reply, 5 + 31, 50).c_str());
        return 0;
    }
    if (command == "status" && argc == 4) {
        const std::string reply = client.Post("/agent", KeyRecord("_%REQ_REF%_", argv[3])).body;
        // 40000, then the 373-byte take-out record: dates at 287 and 295, the state at 369.
        if (reply.compare(0, 5, "40000") != 0 || reply.size() != 5 + 373) {
            printf("%s\n", reply.substr(0, 5).c_str());
            return 1;
        }
        int32_t state = 0;
        memcpy(&state, reply.data() + 5 + 369, sizeof(state));
        const std::string start = Text(reply, 5 + 287, 8), end = Text(reply, 5 + 295, 8);
        static const char* const kStates[] = {"requested", "approved", "none", "refused", "cancelled"};
        if (state == 1)
            printf("approved from %s to %s\n", ShowDate(start).c_str(), ShowDate(end).c_str());
        else
            printf("%s\n", state >= 0 && state <= 4 ? kStates[state] : "unknown state");
        return 0;
    }
    return Usage();
}
