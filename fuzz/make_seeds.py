#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (fuzz/corpus/<target>/) from the records the tests use."""
import binascii
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def field(text, width):
    data = text.encode("latin-1")[:width]
    return data + b"\0" * (width - len(data))


def login_info(app_len):
    info = field("_%RES_LIN%_", 11) + b"\0" * 4 + field("group-7", 50) + field("pos-3", 20)
    info += field("company-1", 20) + field("superkey-0123456", 16)
    info += bytes([3, 4, 5, 6, 0, 1, 0, 1, 2])
    info += field("dkms.example:9000", 50) + field("dtss.example:9001", 50) + field("dls.example:9002", 50)
    info += bytes(i % 3 for i in range(10)) + field(app_len, 14)
    assert len(info) == 304
    return info


APP_LIST = b"app.exe|app.dll|word.exe|word.dll|"
LOGIN = login_info(str(len(APP_LIST))) + APP_LIST
ACL = field("_%RES_ACL%_", 11) + bytes(range(42))
LEVELS = field("_%RES_LVL%_", 11) + bytes([3]) + b"".join(
    struct.pack("<i", level) + field(name, 20) for level, name in [(1, "public"), (2, "internal"), (3, "secret")]
) + b"\0" * (24 * 7)
TAKEOUT_KEY = field("_%RES_OUT%_", 11) + b"\0" * 20 + field("KEY-2024-0001", 50) + struct.pack("<i", 0)


def ccf(values):
    text = b"CORVANE-CCF 1\r\n"
    for name, value in sorted(values.items()):
        text += name + b"=" + value + b"\r\n"
    return text + b"CRC32=%08X\r\n" % (binascii.crc32(text) & 0xFFFFFFFF)


SEEDS = {
    "fuzz_binary_reply": {
        "login": b"40000" + LOGIN,
        "acl": b"40000" + ACL,
        "levels": b"40000" + LEVELS,
        "takeout": b"40000" + TAKEOUT_KEY,
        "refused": b"45005" + TAKEOUT_KEY,
        "status-only": b"40000",
        "short-status": b"4000",
        "letter": b"4000x" + ACL,
        "blank-first": b" 40000" + ACL,
        "html": b"<html><body>Internal error</body></html>",
    },
    "fuzz_login_reply": {
        "login": LOGIN,
        "login-no-list": login_info("0"),
        "login-claims-more": login_info("99999") + APP_LIST,
        "login-bad-length": login_info("12a") + APP_LIST,
        "acl": ACL,
        "levels": LEVELS,
        "short": LOGIN[:100],
    },
    "fuzz_tagged_reply": {
        "result": b"<html><body><Result>40000</Result><DKMS>kms</DKMS></body></html>\r\n",
        "policies": b"<Result>40000</Result><OFFLINEPOLICY>3</OFFLINEPOLICY><DOCEXCHANGEPOLICY>5</DOCEXCHANGEPOLICY>"
        b"<COUNTCONTROL>1</COUNTCONTROL><TIMESYNC>1</TIMESYNC><ONLINECONTROL>4</ONLINECONTROL>"
        b"<PROTECTREMOTETOOL>2</PROTECTREMOTETOOL><COMPANY_SUPERKEY>superkey-0123456</COMPANY_SUPERKEY>"
        b"<USER_POSCODE>pos-3</USER_POSCODE><COMPANY_ID>company-1</COMPANY_ID><DKMS>dkms</DKMS>"
        b"<DTSS>dtss</DTSS><DLS>dls</DLS><XLS>1</XLS><DOC>1</DOC><PPT>0</PPT><HWP>1</HWP><GUL>0</GUL>"
        b"<TXT>1</TXT><KODAK>0</KODAK><DWG>1</DWG><MSPAINT>2</MSPAINT>",
        "blanks": b"<Result> 40000 </Result>  \t\r\n",
        "lower-case": b"<result>40000</result>",
        "closing-first": b"</Result>40000<Result>",
        "double-byte": b"\xb0\xa1<Result>\xb0\xa140000</Result>\xb0 \xa1 ",
        "empty": b"<Result></Result>",
        "attribute": b"<Result a=1>40000</Result>",
    },
    "fuzz_app_list": {
        "two-pairs": APP_LIST,
        "no-library": b"app.exe|app.dll|word.exe|",
        "adjacent": b"app.exe||app.dll|",
        "long-name": b"a" * 50 + b"|lib.dll|ok.exe|ok.dll",
        "separators": b"||||",
    },
    "fuzz_ccf_file": {
        "login": ccf({b"UserID": b"user01", b"CompanyID": b"company-1", b"OfflinePolicy": b"3",
                      b"Field.app.exe": b"app.dll%00", b"AutoEncrypt.2": b"1"}),
        "takeout": ccf({b"TakeOutStatus": b"1", b"TakeOutStartDate": b"20240101", b"TakeOutEndDate": b"20240131"}),
        "empty": ccf({}),
        "damaged": b"CORVANE-CCF 1\r\nUserID=x\r\nCRC32=00000000\r\n",
    },
    "fuzz_level_search": {
        "internal": LEVELS[11:] + b"internal",
        "upper-case": LEVELS[11:] + b"SECRET",
        "no-match": LEVELS[11:] + b"top",
        "count-too-large": b"\xff" + LEVELS[12:] + b"public",
    },
    "fuzz_command_text": {
        "quoted": b'"C:\\Program Files\\Velmora\\agent.exe" "%1"\0C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\0'
        b"http://policy.example/login",
        "plain": b"C:\\Velmora\\agent.exe %1",
        "network": b'"\\\\server\\share\\agent.exe"',
        "relative": b"agent.exe",
    },
    "fuzz_offline_decision": {
        "accepted": b"\x01user01\0USER01\020240101\020241231\020240601\020240615",
        "rolled-back": b"\x01user01\0user01\020240101\020241231\020240901\020240615",
        "not-approved": b"\x02user01\0user01\020240101\020241231\0\020240615",
        "bad-date": b"\x01user01\0user01\020240230\02024123\0\020240615",
        "other-user": b"\x01user01\0user02\020240101\020241231\0\020240615",
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
