// SPDX-License-Identifier: MIT
// Digest authentication: known answers against the exact Authorization line, and the rules for
// keeping and replacing challenge parameters across challenges.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "web/digest.h"

namespace zoq {
namespace {

std::string line_of(const DigestChallenge& d) {
    char out[AUTHORIZATION_LINE_SIZE];
    std::size_t n = build_authorization(d, out, sizeof out);
    EXPECT_EQ(n, std::string(out).size());
    return {out, n};
}

DigestChallenge rfc2617_example() {
    DigestChallenge d;
    copy_text(d.username, "Mufasa");
    copy_text(d.password, "Circle Of Life");
    copy_text(d.realm, "testrealm@host.com");
    copy_text(d.nonce, "dcd98b7102dd2f0e8b11d0f600bfb0c093");
    copy_text(d.uri, "/dir/index.html");
    copy_text(d.cnonce, "0a4f113b");
    copy_text(d.qop, "auth");
    copy_text(d.opaque, "5ccc069c403ebaf9f0171e9517f40e41");
    d.nonce_count = 1;
    return d;
}

// The expected responses below other than the RFC's own were computed with Python's hashlib.
TEST(Digest, KnownAnswers) {
    struct Case {
        const char* name;
        DigestChallenge digest;
        const char* line;
    };
    std::vector<Case> cases;
    cases.push_back({"RFC 2617 section 3.5", rfc2617_example(),
                     "Authorization: Digest username=\"Mufasa\",realm=\"testrealm@host.com\","
                     "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\",uri=\"/dir/index.html\","
                     "algorithm=\"\",response=\"6629fae49393a05397450978507c4ef1\","
                     "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\",qop=auth,nc=00000001,"
                     "cnonce=\"0a4f113b\"\r\n"});
    DigestChallenge rfc2069 = rfc2617_example();
    rfc2069.qop[0] = '\0';
    rfc2069.opaque[0] = '\0';
    cases.push_back({"RFC 2069 form", rfc2069,
                     "Authorization: Digest username=\"Mufasa\",realm=\"testrealm@host.com\","
                     "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\",uri=\"/dir/index.html\","
                     "algorithm=\"\",response=\"670fd8c2df070c60b045671b8b24ff02\"\r\n"});
    DigestChallenge sess;
    copy_text(sess.username, "admin");
    copy_text(sess.password, "secret");
    copy_text(sess.realm, "ZOQ");
    copy_text(sess.nonce, "abc123");
    copy_text(sess.cnonce, "1f2e");
    copy_text(sess.uri, "/admin/advanced");
    copy_text(sess.qop, "auth");
    copy_text(sess.algorithm, "MD5-sess");
    sess.nonce_count = 1;
    cases.push_back({"md5-sess", sess,
                     "Authorization: Digest username=\"admin\",realm=\"ZOQ\",nonce=\"abc123\","
                     "uri=\"/admin/advanced\",algorithm=\"MD5-sess\","
                     "response=\"ebff2ad8751731bb6706ab2d02088194\",qop=auth,nc=00000001,"
                     "cnonce=\"1f2e\"\r\n"});
    DigestChallenge integrity = sess;
    integrity.algorithm[0] = '\0';
    copy_text(integrity.qop, "auth-int");
    integrity.nonce_count = 2;
    cases.push_back({"auth-int", integrity,
                     "Authorization: Digest username=\"admin\",realm=\"ZOQ\",nonce=\"abc123\","
                     "uri=\"/admin/advanced\",algorithm=\"\","
                     "response=\"732fcd37081eae6e4c9a7adf4faeac74\",qop=auth-int,nc=00000002,"
                     "cnonce=\"1f2e\"\r\n"});
    for (const auto& c : cases) EXPECT_EQ(line_of(c.digest), c.line) << c.name;
}

TEST(Digest, Md5SessInAnyLetterCaseTakesTheTwoStepForm) {
    DigestHex plain, lower, other;
    digest_calc_ha1("MD5", "admin", "ZOQ", "secret", "abc123", "1f2e", plain);
    digest_calc_ha1("md5-sess", "admin", "ZOQ", "secret", "abc123", "1f2e", lower);
    EXPECT_STREQ(lower.data(), "62cb851b8b6844f2822069316125cd01");
    EXPECT_STRNE(plain.data(), lower.data());
    for (const char* name : {"MD5-SESS", "Md5-Sess", "mD5-sEsS"}) {
        digest_calc_ha1(name, "admin", "ZOQ", "secret", "abc123", "1f2e", other);
        EXPECT_STREQ(other.data(), lower.data()) << name;
    }
    // The empty algorithm and anything unknown are the plain form.
    for (const char* name : {"", "SHA-256", "md5-sess2"}) {
        digest_calc_ha1(name, "admin", "ZOQ", "secret", "abc123", "1f2e", other);
        EXPECT_STREQ(other.data(), plain.data()) << name;
    }
}

TEST(Digest, AuthIntOnlyWhenItIsTheWholeQop) {
    // A list does not select the entity hash; the whole value in any letter case does.
    const std::pair<const char*, const char*> cases[] = {
        {"auth", "be09f452ef6f8d792156ee73ad718051"},
        {"auth,auth-int", "0baecb00df08f49676679cc21f5b04c5"},
        {"AUTH-INT", "805c2c930d82de34174707d829a4452e"},
        {"auth-int", "3eb53a2032ffb9ed2ac1417077af6d54"},
    };
    for (const auto& [qop, expected] : cases) {
        DigestHex out;
        digest_calc_response("0123456789abcdef0123456789abcdef", "n", "00000001", "c", qop, "GET",
                             "/", "", out);
        EXPECT_STREQ(out.data(), expected) << qop;
    }
}

std::string cnonce_of(std::uint32_t seed, int draws) {
    Random r;
    r.seed(seed);
    int v = 0;
    for (int i = 0; i < draws; ++i) v = r.next();
    return format("%x", static_cast<unsigned>(v));
}

TEST(Digest, ChallengeSequence) {
    DigestChallenge d;
    Random rng;
    rng.seed(7);
    ASSERT_EQ(parse_challenge("WWW-Authenticate: Digest realm=\"ZOQ\", nonce=\"n1\", "
                              "qop=\"auth\", opaque=\"op\"\r\n\r\n",
                              d, rng),
              ChallengeParse::Taken);
    EXPECT_STREQ(d.realm.data(), "ZOQ");
    EXPECT_STREQ(d.nonce.data(), "n1");
    EXPECT_STREQ(d.last_nonce.data(), "n1");
    EXPECT_STREQ(d.qop.data(), "auth");
    EXPECT_STREQ(d.opaque.data(), "op");
    EXPECT_STREQ(d.algorithm.data(), "");
    EXPECT_EQ(d.cnonce.data(), cnonce_of(7, 1));
    EXPECT_EQ(d.nonce_count, 0u);

    copy_text(d.username, "admin");
    copy_text(d.password, "pw");
    copy_text(d.uri, "/admin/advanced");
    d.nonce_count = 1;
    std::string first = line_of(d);
    EXPECT_NE(first.find(",qop=auth,nc=00000001,cnonce=\"" + cnonce_of(7, 1) + "\"\r\n"),
              std::string::npos)
        << first;
    d.nonce_count = 2;
    EXPECT_NE(line_of(d).find(",nc=00000002,"), std::string::npos);

    // The same nonce again: the count stays, a new client nonce is drawn; without qop the old
    // qop stays, without opaque none is sent any more.
    ASSERT_EQ(parse_challenge("WWW-Authenticate: Digest realm=\"ZOQ\", nonce=\"n1\"", d, rng),
              ChallengeParse::Taken);
    EXPECT_EQ(d.nonce_count, 2u);
    EXPECT_EQ(d.cnonce.data(), cnonce_of(7, 2));
    EXPECT_STREQ(d.qop.data(), "auth");
    EXPECT_STREQ(d.opaque.data(), "");
    std::string again = line_of(d);
    EXPECT_EQ(again.find("opaque"), std::string::npos) << again;
    EXPECT_NE(again.find(",qop=auth,"), std::string::npos) << again;

    // A new nonce starts the count again; an algorithm given once is kept.
    ASSERT_EQ(parse_challenge("WWW-Authenticate: Digest algorithm=\"MD5-sess\",realm=\"Z2\","
                              "nonce=\"n2\"",
                              d, rng),
              ChallengeParse::Taken);
    EXPECT_EQ(d.nonce_count, 0u);
    EXPECT_STREQ(d.last_nonce.data(), "n2");
    EXPECT_STREQ(d.realm.data(), "Z2");
    EXPECT_STREQ(d.algorithm.data(), "MD5-sess");
    ASSERT_EQ(parse_challenge("WWW-Authenticate: Digest realm=\"Z2\",nonce=\"n3\"", d, rng),
              ChallengeParse::Taken);
    EXPECT_STREQ(d.algorithm.data(), "MD5-sess");
}

TEST(Digest, ChallengeValues) {
    const std::string long200(200, 'x');
    struct Case {
        const char* name;
        std::string text;
        int result;
        const char* realm;
        const char* nonce;
        const char* qop;
        const char* algorithm;
    };
    const Case cases[] = {
        {"no realm", "Digest nonce=\"n\"", 1, "old", "old", "", ""},
        // The realm is already replaced when the nonce turns out missing.
        {"no nonce", "Digest realm=\"r\"", 1, "r", "old", "", ""},
        {"unquoted values are not values", "Digest realm=r, nonce=n", 1, "old", "old", "", ""},
        {"escaped quote ends the value", "Digest realm=\"r\",nonce=\"ab\\\"cd\"", 0, "r", "ab\\",
         "", ""},
        {"unterminated value runs to the end", "Digest realm=\"r\",nonce=\"abc", 0, "r", "abc", "",
         ""},
        {"lighttpd's unquoted algorithm is not taken",
         "Digest realm=\"r\", charset=\"UTF-8\", algorithm=MD5, nonce=\"n\", qop=\"auth\"", 0, "r",
         "n", "auth", ""},
        {"long values are cut to their field",
         "Digest realm=\"" + long200 + "\",nonce=\"" + long200 + "\",qop=\"" + long200 +
             "\",algorithm=\"" + long200 + "\"",
         0, nullptr, nullptr, nullptr, nullptr},
        {"a zero byte ends the text", std::string("Digest realm=\"r\"\0,nonce=\"n\"", 27), 1, "r",
         "old", "", ""},
    };
    for (const auto& c : cases) {
        DigestChallenge d;
        copy_text(d.realm, "old");
        copy_text(d.nonce, "old");
        Random rng;
        EXPECT_EQ(static_cast<int>(parse_challenge("WWW-Authenticate: " + c.text, d, rng)),
                  c.result)
            << c.name;
        if (!c.realm) {
            EXPECT_EQ(std::string(d.realm.data()), long200.substr(0, 127)) << c.name;
            EXPECT_EQ(std::string(d.nonce.data()), long200.substr(0, 127)) << c.name;
            EXPECT_EQ(std::string(d.qop.data()), long200.substr(0, 15)) << c.name;
            EXPECT_EQ(std::string(d.algorithm.data()), long200.substr(0, 15)) << c.name;
            continue;
        }
        EXPECT_STREQ(d.realm.data(), c.realm) << c.name;
        EXPECT_STREQ(d.nonce.data(), c.nonce) << c.name;
        EXPECT_STREQ(d.qop.data(), c.qop) << c.name;
        EXPECT_STREQ(d.algorithm.data(), c.algorithm) << c.name;
    }
}

TEST(Digest, LineWithEveryFieldFullFitsAndIsCutWhenTheBufferIsSmall) {
    DigestChallenge d;
    const std::string full(127, 'v');
    for (auto* f : {&d.username, &d.password, &d.realm, &d.nonce, &d.uri, &d.opaque, &d.cnonce}) {
        copy_text(*f, full);
    }
    copy_text(d.qop, std::string(15, 'q'));
    copy_text(d.algorithm, std::string(15, 'a'));
    d.nonce_count = 0xFFFFFFFFu;
    std::string line = line_of(d);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_NE(line.find(",nc=ffffffff,"), std::string::npos);
    EXPECT_LT(line.size(), AUTHORIZATION_LINE_SIZE);

    char small[20];
    EXPECT_EQ(build_authorization(d, small, sizeof small), 19u);
    EXPECT_STREQ(small, "Authorization: Dige");
}

}  // namespace
}  // namespace zoq
