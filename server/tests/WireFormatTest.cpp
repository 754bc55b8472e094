// Decoding of requests and forms, and the reply layouts, on golden bytes.
#include <gtest/gtest.h>

#include "TestClient.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

TEST(WireFormatTest, WellFormedRecords_DecodeToTheirFields)
{
    DecodedRequest request;
    const std::string login = LoginRecord(std::string(20, 'u'), std::string(20, 'p'));
    ASSERT_TRUE(DecodeRequest(login.data(), login.size(), request));
    EXPECT_EQ(request.kind, RequestKind::Login);
    EXPECT_EQ(request.userID, std::string(20, 'u')); // a full field has no terminator
    EXPECT_EQ(request.password, std::string(20, 'p'));

    const std::string takeOut = TakeOutRecord("_%REQ_EDT%_", "demo02", "trip", "20240228", "20240301");
    ASSERT_TRUE(DecodeRequest(takeOut.data(), takeOut.size(), request));
    EXPECT_EQ(request.kind, RequestKind::Edit);
    EXPECT_EQ(request.userID, "demo02");
    EXPECT_EQ(request.reason, "trip");
    EXPECT_EQ(request.startDate, "20240228");
    EXPECT_EQ(request.endDate, "20240301");

    const std::string acl = AclRecord("demo01", -7);
    ASSERT_TRUE(DecodeRequest(acl.data(), acl.size(), request));
    EXPECT_EQ(request.docLevel, -7);

    const std::string ref = KeyRecord("_%REQ_REF%_", std::string(50, 'k'));
    ASSERT_TRUE(DecodeRequest(ref.data(), ref.size(), request));
    EXPECT_EQ(request.takeOutKey, std::string(50, 'k'));
}

TEST(WireFormatTest, MalformedRecords_AreRefused)
{
    const std::string takeOut = TakeOutRecord("_%REQ_OUT%_", "", "", "20240101", "20240102");
    const struct
    {
        const char* name;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"shorter than a tag", "_%REQ_LIN%"},
        {"unknown tag", "_%REQ_XYZ%_"},
        {"reply tag", "_%RES_PNG%_"},
        {"login one byte short", LoginRecord("a", "b").substr(0, 60)},
        {"login one byte long", LoginRecord("a", "b") + "x"},
        {"login wrong site code", LoginRecord("a", "b", "kesmoR")},
        {"take-out one byte short", takeOut.substr(0, 372)},
        {"take-out start after end", TakeOutRecord("_%REQ_OUT%_", "", "", "20240103", "20240102")},
        {"take-out no such day", TakeOutRecord("_%REQ_OUT%_", "", "", "20230229", "20230301")},
        {"take-out dates not digits", TakeOutRecord("_%REQ_OUT%_", "", "", "2024-1-1", "20240102")},
        {"take-out dates empty", TakeOutRecord("_%REQ_OUT%_", "", "", "", "")},
        {"take-out reserved bytes naming nobody",
         TakeOutRecord("_%REQ_OUT%_", std::string("\0x", 2), "", "20240101", "20240102")},
        {"edit the size of a key record", KeyRecord("_%REQ_EDT%_", "k")},
        {"reference the size of a take-out", TakeOutRecord("_%REQ_REF%_", "", "", "20240101", "20240102")},
        {"delete one byte long", KeyRecord("_%REQ_DEL%_", "k") + '\0'},
        {"ACL one byte short", AclRecord("a", 1).substr(0, 34)},
        {"level list with a body", std::string("_%REQ_LVL%_") + '\0'},
        {"ping twice", std::string("_%REQ_PNG%__%REQ_PNG%_")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedRequest request;
        EXPECT_FALSE(DecodeRequest(c.body.data(), c.body.size(), request));
    }
    EXPECT_TRUE(IsValidDate("20240229"));
    EXPECT_FALSE(IsValidDate("19000229"));
}

TEST(WireFormatTest, Forms_DecodePercentEscapesAndRefuseBrokenOnes)
{
    std::vector<std::pair<std::string, std::string>> fields;
    const std::string body = "USER_ID=demo%30%31&&USER_PWD=a+b%26c%3D&flag&USER_ID=second";
    ASSERT_TRUE(DecodeForm(body.data(), body.size(), fields));
    ASSERT_NE(FindFormField(fields, "USER_ID"), nullptr);
    EXPECT_EQ(*FindFormField(fields, "USER_ID"), "demo01"); // the first of two wins
    EXPECT_EQ(*FindFormField(fields, "USER_PWD"), "a b&c=");
    EXPECT_EQ(*FindFormField(fields, "flag"), "");
    EXPECT_EQ(FindFormField(fields, "user_id"), nullptr);

    for (const std::string broken : {"USER_ID=%4", "USER_ID=%zz", "=value", "a=1&%"}) {
        SCOPED_TRACE(broken);
        EXPECT_FALSE(DecodeForm(broken.data(), broken.size(), fields));
    }
    EXPECT_TRUE(DecodeForm("", 0, fields));
    EXPECT_TRUE(fields.empty());
}

TEST(WireFormatTest, Replies_HaveTheRecordSizes)
{
    TakeOutRequest request;
    request.state = TAKEOUT_APPROVED;
    request.requestedStart = "20240101";
    request.approvedStart = "20240105";
    request.approvedEnd = "20240106";
    const std::string info = EncodeTakeOutInfoReply(request);
    ASSERT_EQ(info.size(), 5u + 373u);
    EXPECT_EQ(info.substr(5 + 287, 16), "2024010520240106"); // the approved dates, not the requested
    EXPECT_EQ(info.substr(5 + 369), Le32(1));

    std::vector<DocLevelEntry> many(12, DocLevelEntry{9, std::string(30, 'n')});
    const std::string levels = EncodeLevelListReply(many);
    ASSERT_EQ(levels.size(), 5u + 252u);
    EXPECT_EQ(levels[5 + 11], 10); // at most 10 entries
    EXPECT_EQ(levels.substr(5 + 11 + 1 + 24 * 9 + 4, 20), std::string(20, 'n'));

    EXPECT_EQ(EncodeStatus(42000), "42000");
    EXPECT_EQ(EncodeAclReply(std::string(50, 'a')).size(), 5u + 53u);
    EXPECT_EQ(EncodeTakeOutMsgReply(std::string(60, 'k'), 2).size(), 5u + 85u);
}

} // namespace
} // namespace vlpolicy::test
