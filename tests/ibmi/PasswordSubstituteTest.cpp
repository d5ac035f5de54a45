#include "PasswordSubstitute.h"
#include "HexBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavo::ibmi;
using testsupport::Hex;

namespace {

constexpr Seed kClient = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
constexpr Seed kServer = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
// Adding the sequence number to this server seed carries through four bytes.
constexpr Seed kClient2 = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
constexpr Seed kServer2 = {0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr auto Des = PasswordScheme::Des;
constexpr auto Sha1 = PasswordScheme::Sha1;
constexpr auto Pbkdf2 = PasswordScheme::Pbkdf2;

struct Vector {
    PasswordScheme scheme;
    std::string_view user;
    std::string_view password;
    const Seed& server;
    const Seed& client;
    std::string_view substitute;
};

const Vector kVectors[] = {
    // Output of IBM's Toolbox itself (9.1 for DES and SHA-1, 21.0.7 for PBKDF2).
    {Des, "OPER", "secret", kServer, kClient, "C35A8CF962EC3AB6"},
    {Des, "OPER", "SECRET", kServer, kClient, "C35A8CF962EC3AB6"},
    {Des, "LONGUSER10", "password12", kServer, kClient, "E3FAC24FF89E4057"},
    {Des, "JSMITH", "7days", kServer, kClient, "9028D2F89BAE1B11"},
    {Des, "QSECOFR", "pw", kServer, kClient, "7288DFE8EEE1F63A"},
    {Sha1, "OPER", "secret", kServer, kClient, "FCCFBE40C803B82F11CE984AE9986217D2087E13"},
    {Sha1, "OPER", "SECRET", kServer, kClient, "0C4E74D29AD51B5BC4BB37D9FDB5E0F2BB0C759E"},
    {Sha1, "LONGUSER10", "password12", kServer, kClient,
     "8D15E6E74F3EEE2F32CA3744F7CD19CD81FFBF4B"},
    {Sha1, "JSMITH", "7days", kServer, kClient, "0023FDE678D1F11594CD38796B5B0DF3F25B94AD"},
    {Sha1, "QSECOFR", "pw", kServer, kClient, "D6160531E41424A1FA3C35331DE3A909590AD12C"},
    {Pbkdf2, "OPER", "secret", kServer, kClient,
     "C215EBCDAA3B654879AF1CFF4D20F3B36DB1DB32D8A4F125645F2FB126874DBE"
     "6A6AD6F07E944C0775D142C476FB257517ACE12DA211B50B3E693F22D8EFF39D"},
    {Pbkdf2, "QSECOFR", "pw", kServer, kClient,
     "C2B2B8822246377ADF22B7202E64FCA559FCBD25F8CCEFE427570B6D6B719887"
     "59DAE439EA5641B1B4DBD7E34EEC4DECA182B8A6AC783810D899ABD030EADAF2"},
    {Pbkdf2, "OPER", "SECRET", kServer, kClient,
     "90C7695164ABB034BA19196BD6ADA87D0A46D2AC6669E843BA507162A6BB58FD"
     "1842E157B252F3A5A4C41758D1A4B2C46FC7F833E8BEE0169DA2FDB97213FA9B"},
    {Pbkdf2, "LONGUSER10", "password12", kServer, kClient,
     "7FA2182F958380A649B6DCA144FA9B9BB75B066D31790897D7AF44D0392F5B97"
     "1D6E0F6148B730BE707FFE9255767CC2810030848231D8FEEB5369D0ED515502"},
    {Pbkdf2, "JSMITH", "7days", kServer, kClient,
     "ECB51B14E850572E224FFCA25DAF2A419D1ECE96C721E90B56B4CFB94504928E"
     "62CC77B6513130BC92F613D8D8336D80D9AF1752AB9659741B878D3613F8EB35"},

    // Derived with a Python script over pyca/cryptography's DES, checked block by block
    // against `openssl enc -des-ecb`, independently of this code. "NNNNNNNN" makes the DES
    // weak key 0101010101010101.
    {Des, "tavo#user9", "9Pass$wd_", kServer2, kClient2, "A560E20CE0BFFD2B"},
    {Des, "OPERATOR1", "Secret@42", kServer2, kClient2, "8E176526BFC9AAE5"},
    {Des, "OPER", "nnnnnnnn", kServer2, kClient2, "4EA63E9E512CAD75"},
    // Derived with Python hashlib.sha1 over str.encode("utf-16-be") after rstrip(" \0\u3000").
    {Sha1, "oper", "Grüße 😀\u3000 ", kServer2, kClient2,
     "30578986D4B8EBF6F96B87DAE8B45C51D4818AEC"},
    // Derived with Python hashlib.pbkdf2_hmac over UTF-8, and again with the JDK's
    // PBKDF2WithHmacSHA512 over a char[].
    {Pbkdf2, "tester", "pässwörd", kServer2, kClient2,
     "22847547A9E179CE89702E03CC6D5E8A47AE6274AF8A15F538E8A5F158254052"
     "C5466032E74F8FFF6319FEDA94FCB780EBA50AA076C45F3E1EF253F62B111243"},
    {Pbkdf2, "tester", "é", kServer2, kClient2,
     "23E1C7CDFAD820997D862757B3DA59302613B77A61B13D2C91D9D078FF150B59"
     "565A054497D9CF93524923F6D76D3D931B3AB0C15F15F879F3FC6E170280D2A6"},
    // Derived with the JDK alone (PBEKeySpec, a char[] salt window, Charset "utf-16be"): the
    // window counts UTF-16 units, and a split surrogate pair encodes as U+FFFD.
    {Pbkdf2, "tester", "ab😀", kServer2, kClient2,
     "C8E9BE66779E883AB98D18F211FE9B164D8F0B5B893A4B702142B222BD7064F6"
     "639555767771E05DD316E2A034E976186AB5E52E2EC198DE823A32323D5471C1"},
    {Pbkdf2, "tester", "x😀yzw", kServer2, kClient2,
     "EBCC8DAFDF080C9C6017FC4CB2612DF9CB66CD7B5A2EF4DCC1E77EAB7B4A8F20"
     "B173773EEDEBE5803A5DC036E42F9FA80054FFF6B716A948965F4AE0EFD89074"},
};

} // namespace

TEST(PasswordSubstitute, MatchesKnownVectorsAlongBothPaths) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(std::string(v.user) + "/" + std::string(v.password));
        const Bytes expected = Hex(v.substitute);
        ASSERT_EQ(expected.size(), SubstituteLength(v.scheme));
        EXPECT_TRUE(Qualifies(v.scheme, v.user, v.password));
        EXPECT_EQ(Substitute(v.scheme, v.user, v.password, v.server, v.client), expected);
        const Bytes token = MakeToken(v.scheme, v.user, v.password);
        const Bytes sent = SubstituteFromToken(v.scheme, v.user, token, v.server, v.client);
        EXPECT_TRUE(SameSubstitute(sent, expected));
        Bytes flipped = sent;
        flipped.back() ^= 0x01;
        EXPECT_FALSE(SameSubstitute(flipped, expected));
        EXPECT_FALSE(SameSubstitute(Bytes(sent.begin(), sent.end() - 1), expected));
    }
}

TEST(PasswordSubstitute, RefusesWhatTheSignOnCannotCarry) {
    const struct {
        PasswordScheme scheme;
        std::vector<std::string_view> passwords;
    } badPasswords[] = {
        {Des, {"pass word", "pässwörd", "ABCDEFGHIJK", "123456789A", "*NOPWD", ""}},
        {Sha1, {"", "*NOPWD", " \u3000", "ab\xC3", "\xC0\xAF", "\xED\xA0\x80"}},
        {Pbkdf2, {"", "*NOPWD", "\xF8\x88"}},
    };
    const auto refused = [](PasswordScheme scheme, std::string_view user, std::string_view pw) {
        SCOPED_TRACE(std::string(user) + "/" + std::string(pw));
        EXPECT_FALSE(Qualifies(scheme, user, pw));
        EXPECT_THROW(MakeToken(scheme, user, pw), PasswordError);
        EXPECT_THROW(Substitute(scheme, user, pw, kServer, kClient), PasswordError);
    };
    for (const auto& [scheme, passwords] : badPasswords) {
        for (auto password : passwords)
            refused(scheme, "OPER", password);
        for (auto user : {"", "ELEVENCHARS", "OPÉR", "OP ER"})
            refused(scheme, user, "secret");
    }
    EXPECT_THROW(SubstituteFromToken(Sha1, "OPER", Bytes(8), kServer, kClient), PasswordError);
}

TEST(PasswordSubstitute, LevelsPickTheirScheme) {
    EXPECT_EQ(AuthenticationType(SchemeForLevel(1)), 0x01);
    EXPECT_EQ(AuthenticationType(SchemeForLevel(2)), 0x03);
    EXPECT_EQ(AuthenticationType(SchemeForLevel(4)), 0x07);
    EXPECT_THROW(SchemeForLevel(5), PasswordError);
}

namespace {

struct ChangeVector {
    PasswordScheme scheme;
    std::string_view user, oldPassword, newPassword;
    std::string_view substitute, protectedOld, protectedNew;
    std::uint32_t oldLength, newLength;
    std::string_view unmaskedNew; // what the host learns
};

const ChangeVector kChanges[] = {
    // IBM's Toolbox 9.1 itself, its private encryptNewPassword and generateShaProtected
    // called by reflection.
    {Des, "OPER", "secret", "newpass1", "C35A8CF962EC3AB6", "972BD3F984A919B8", "AD77945F7A484BD3",
     0, 0, "NEWPASS1"},
    {Des, "LONGUSER10", "password12", "changed123", "E3FAC24FF89E4057",
     "2E83A915681EA9A65D60BB00219799D9", "6137D5F6B4A0E1A13E2502C5E3345788", 0, 0, "CHANGED123"},
    {Sha1, "OPER", "secret42", "changed!99", "2C7F7DE41D8D72477AA896B8C4B183D47BBACEDB",
     "D149B074C84F5245E1F43F04466A4337704BABB8", "933FC324FCAD679BEEBA1DF935698982AC0C0F4A", 16, 20,
     "changed!99"},
    {Sha1, "LONGUSER10", "pässwörd", "a much longer new password",
     "2E1BE4891D4B43209744C1A00CF57532A5E846C4", "15F1D9924E7E36D3036817280884CE4837AB84EB",
     "725D2437AA2CFF0510FD03C97C236465B2BC9B605ED7FBD59F18DF59BA0AB244307AE9303F6EA0073842B3BC"
     "D9B41A305227FA70CF8B7CDFE4C6E557",
     16, 52, "a much longer new password"},
    // Python hashlib (pbkdf2_hmac over UTF-8, sha512 for each block) after the layout of the
    // Toolbox's generateSha512Protected.
    {Pbkdf2, "OPER", "secret42", "Grüße 2026",
     "224DFB881454BD9CE6EBE04BBE2DA3C93D552944B90F222BE6441C11F6C24B9A"
     "582B9BBF8AA546984DE81163C8C654CA6F624509D4AC708CE95F4067F2580C5C",
     "9927455B7D3D8F8598841ED43EC9BB6CCE8826BFF5E01D90271073FE50F2E2B2"
     "88D22158F203702BA316A62009966BAF7C4F389DC0B0FB93651DC611877F7EE1",
     "E9C770C2CF386956E6690E59070A0EF7CE7642B2933AF7E0C2F26CAB6D50FFC9"
     "3901860CC311AB39C95E4172798EE23449214DE9BF218B40EA408BC235F4161A",
     16, 20, "Grüße 2026"},
};

} // namespace

TEST(PasswordSubstitute, ChangesMatchIbmsClientAndUnmaskOnTheHost) {
    for (const auto& v : kChanges) {
        SCOPED_TRACE(std::string(v.user) + "/" + std::string(v.newPassword));
        const auto change =
            ProtectPasswordChange(v.scheme, v.user, v.oldPassword, v.newPassword, kServer, kClient);
        EXPECT_EQ(change.substitute, Hex(v.substitute));
        EXPECT_EQ(change.protectedOld, Hex(v.protectedOld));
        EXPECT_EQ(change.protectedNew, Hex(v.protectedNew));
        EXPECT_EQ(change.oldLength, v.oldLength);
        EXPECT_EQ(change.newLength, v.newLength);

        const Bytes oldToken = MakeToken(v.scheme, v.user, v.oldPassword);
        const std::string unmasked =
            UnmaskNewPassword(v.scheme, v.user, oldToken, change, kServer, kClient);
        EXPECT_EQ(unmasked, v.unmaskedNew);
        const std::string old =
            UnmaskOldPassword(v.scheme, v.user, unmasked, change, kServer, kClient);
        EXPECT_EQ(ChangedPasswordToken(v.scheme, v.user, old), oldToken);
    }
}

TEST(PasswordSubstitute, ChangeRefusesMaskedPasswordsThatDoNotFit) {
    const auto good =
        ProtectPasswordChange(Sha1, "OPER", "secret42", "changed!99", kServer, kClient);
    const Bytes token = MakeToken(Sha1, "OPER", "secret42");
    std::vector<PasswordChange> bad(5, good);
    bad[0].newLength = 19;          // odd: not UTF-16
    bad[1].newLength = 22;          // past the masked bytes
    bad[2].newLength = 0;           // no password at all
    bad[3].protectedNew.pop_back(); // not whole blocks
    bad[4].protectedNew[0] ^= 0xD8; // 'c' becomes a lone surrogate
    bad[4].protectedNew[1] ^= 'c';
    for (const auto& change : bad)
        EXPECT_THROW(UnmaskNewPassword(Sha1, "OPER", token, change, kServer, kClient),
                     PasswordError);
    auto des = ProtectPasswordChange(Des, "OPER", "secret", "newpass1", kServer, kClient);
    des.protectedNew.resize(12);
    EXPECT_THROW(
        UnmaskNewPassword(Des, "OPER", MakeToken(Des, "OPER", "secret"), des, kServer, kClient),
        PasswordError);
    EXPECT_THROW(ProtectPasswordChange(Des, "OPER", "secret", "much too long", kServer, kClient),
                 PasswordError);
}
