// SPDX-License-Identifier: MIT
// Reading the device's answers: the status classes and the values cut out of a status page.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/text.h"
#include "web/http.h"

namespace zoq {
namespace {

TEST(ParseStatus, Classes) {
    const std::pair<std::string, int> cases[] = {
        {"", -1},
        {"HTTP/1.0 200 OK\r\n\r\n", -1},
        {"http/1.1 200 OK", -1},
        {"HTTP/1.", -1},
        {"HTTP/1.1", -2},
        {"HTTP/1.1 ", -2},
        {"HTTP/1.1  \t \t", -2},
        {"HTTP/1.1 200 OK\r\n", 0},
        {"HTTP/1.1\t200", 0},
        {"HTTP/1.1x200", 0},  // the character after the version is skipped, whatever it is
        {"HTTP/1.1 \t  2001", 0},
        {"HTTP/1.1 20", 2},
        {"HTTP/1.1 404 Not Found\r\n\r\nProduct Name:<b>x</b>", 2},
        {"HTTP/1.1 401 Unauthorized\r\n\r\n", 2},
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\"\r\n\r\n", 2},
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest nonce=\"n\"\r\n\r\n", 2},
        {"HTTP/1.1 401 Unauthorized\r\nwww-authenticate: Digest realm=\"r\",nonce=\"n\"", 2},
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\",nonce=\"n\"", 1},
        // The scheme word is not read, and the label counts wherever it stands.
        {"HTTP/1.1 401\r\nWWW-Authenticate: Basic realm=\"r\",nonce=\"n\"", 1},
        {"HTTP/1.1 401\r\n\r\n<p>WWW-Authenticate: realm=\"r\" nonce=\"n\"</p>", 1},
        {std::string("HTTP/1.1 401\r\n\0WWW-Authenticate: realm=\"r\",nonce=\"n\"", 49), 2},
    };
    for (const auto& [text, expected] : cases) {
        DigestChallenge d;
        Random rng;
        EXPECT_EQ(static_cast<int>(parse_status(text, d, rng)), expected) << text;
        if (expected == 1) {
            EXPECT_STREQ(d.realm.data(), "r") << text;
        }
    }
}

TEST(ParseStatus, NeverReadsPastAnUnterminatedAnswer) {
    struct Case {
        std::string text;
        HttpStatus status;
    };
    const Case cases[] = {
        {"HTTP/1.", HttpStatus::NotHttp11},
        {"HTTP/1.1", HttpStatus::NoCode},
        {"HTTP/1.1 ", HttpStatus::NoCode},
        {"HTTP/1.1\t \t", HttpStatus::NoCode},
        {"HTTP/1.1 20", HttpStatus::Other},
        {"HTTP/1.1 40", HttpStatus::Other},
        {"HTTP/1.1 200", HttpStatus::Ok},
        {"HTTP/1.1x200", HttpStatus::Ok},  // one character after the version, whatever it is
        {"HTTP/1.1 401", HttpStatus::Other},
        {"HTTP/1.1 401 WWW-Authenticate:", HttpStatus::Other},
        {"HTTP/1.1 401 WWW-Authenticate: realm=\"r\",nonce=\"", HttpStatus::Challenge},
        // The last value runs to the end of the answer.
        {"HTTP/1.1 401 WWW-Authenticate: realm=\"r\",nonce=\"n", HttpStatus::Challenge},
    };
    // Heap blocks of exactly the answer's size: the sanitizer builds catch any read beyond.
    for (const Case& c : cases) {
        auto bytes = std::make_unique<char[]>(c.text.size());
        c.text.copy(bytes.get(), c.text.size());
        DigestChallenge d;
        Random rng;
        EXPECT_EQ(parse_status({bytes.get(), c.text.size()}, d, rng), c.status) << c.text;
        if (c.status == HttpStatus::Challenge) {
            EXPECT_STREQ(d.realm.data(), "r") << c.text;
            EXPECT_STREQ(d.nonce.data(), c.text.ends_with("n") ? "n" : "") << c.text;
        }
    }
}

TEST(ExtractField, Values) {
    struct Case {
        const char* name;
        std::string page;
        const char* label;
        const char* value;  // null: nothing written
    };
    const Case cases[] = {
        {"table cell", "Product Name:</td><td>ZOQ-4502</td>", "Product Name:", "ZOQ-4502"},
        {"adjacent tags skipped", "MAC Address:<td><b>02:00:00:AA:BB:CC</b>",
         "MAC Address:", "02:00:00:AA:BB:CC"},
        {"plain text after the label is not the value", "Product Name: X<br>Y<",
         "Product Name:", "Y"},
        {"tag then end of page", "Product Name:>", "Product Name:", ""},
        {"value runs to the end of the page", "Serial Number:<td>123", "Serial Number:", "123"},
        {"blanks and line breaks belong to the value", "Serial Number:<td> 12 34\r\n</td>",
         "Serial Number:", " 12 34\r\n"},
        {"first occurrence counts",
         "Server: x\r\n\r\nSoftware Version:<b>1.0</b> "
         "Software Version:<b>2.0</b>",
         "Software Version:", "1.0"},
        {"label not there", "Product Name:<b>x</b>", "Serial Number:", nullptr},
        {"no tag after the label", "Product Name: x", "Product Name:", nullptr},
        {"only tags after the label", "Product Name:<td><b", "Product Name:", nullptr},
        {"a zero byte ends the page", std::string("Product Name:\0<b>x", 18),
         "Product Name:", nullptr},
        {"value is cut to 127", "Product Name:<b>" + std::string(200, 'v') + "</b>",
         "Product Name:", nullptr},
    };
    for (const auto& c : cases) {
        Text<128> out{};
        copy_text(out, "before");
        char* r = extract_field(c.page, c.label, out.data(), FIELD_MAX);
        if (std::string(c.name) == "value is cut to 127") {
            EXPECT_EQ(r, out.data());
            EXPECT_EQ(std::string(out.data()), std::string(127, 'v'));
        } else if (c.value) {
            EXPECT_EQ(r, out.data()) << c.name;
            EXPECT_STREQ(out.data(), c.value) << c.name;
        } else {
            EXPECT_EQ(r, nullptr) << c.name;
            EXPECT_STREQ(out.data(), "before") << c.name;
        }
    }
}

}  // namespace
}  // namespace zoq
