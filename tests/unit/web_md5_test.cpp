// SPDX-License-Identifier: MIT
// MD5 against the RFC 1321 suite and against the system's md5sum on every length up to 200
// bytes (all padding boundaries) and on the embedded image. On Windows the system's MD5 is the
// one of its cryptography provider.
#include <gtest/gtest.h>

#if defined(_WIN32)
#define NOUSER
#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <wincrypt.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/firmware.h"
#include "os/image.h"
#include "web/digest.h"
#include "web/md5.h"

namespace zoq {
namespace {

std::string hex(const std::array<std::uint8_t, 16>& d) {
    DigestHex out;
    hex_digest(d.data(), out);
    return out.data();
}

#if defined(_WIN32)
// The cryptography provider's MD5 over a set of files, one digest per file in the order given.
std::vector<std::string> md5sum(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> sums;
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return sums;
    }
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        HCRYPTHASH hash = 0;
        if (!::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) break;
        BYTE digest[16];
        DWORD length = sizeof digest;
        bool ok = ::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                                  static_cast<DWORD>(bytes.size()), 0) &&
                  ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
        ::CryptDestroyHash(hash);
        if (!ok) break;
        static constexpr char HEX[] = "0123456789abcdef";
        std::string text;
        for (BYTE b : digest) {
            text += HEX[b >> 4];
            text += HEX[b & 0x0F];
        }
        sums.push_back(text);
    }
    ::CryptReleaseContext(provider, 0);
    return sums;
}
#else
// md5sum over a set of files, one digest per file in the order given.
std::vector<std::string> md5sum(const std::vector<std::filesystem::path>& files) {
    std::string command = "md5sum";
    for (const auto& f : files) command += " '" + f.string() + "'";
    std::vector<std::string> sums;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return sums;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) sums.emplace_back(line, 32);
    ::pclose(p);
    return sums;
}

#endif

class TempDir {
  public:
    TempDir() {
#if defined(_WIN32)
        path_ = std::filesystem::temp_directory_path() /
                ("zoq-md5-" + std::to_string(::GetCurrentProcessId()));
        std::filesystem::create_directories(path_);
#else
        char templ[] = "/tmp/zoq-md5-XXXXXX";
        path_ = ::mkdtemp(templ);
#endif
    }
    ~TempDir() {
        std::filesystem::remove_all(path_);
    }
    std::filesystem::path write(const std::string& name, const void* data, std::size_t size) {
        auto p = path_ / name;
        std::ofstream(p, std::ios::binary)
            .write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        return p;
    }

  private:
    std::filesystem::path path_;
};

TEST(Md5, Rfc1321Suite) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(hex(md5(input)), expected) << input;
}

TEST(Md5, EveryLengthUpTo200MatchesMd5sum) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    std::vector<std::string> ours;
    for (std::size_t len = 0; len <= 200; ++len) {
        std::vector<std::uint8_t> bytes(len);
        for (std::size_t i = 0; i < len; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + len);
        files.push_back(dir.write(std::to_string(len), bytes.data(), len));
        ours.push_back(hex(md5(bytes.data(), len)));
    }
    auto sums = md5sum(files);
    ASSERT_EQ(sums.size(), ours.size()) << "md5sum did not run";
    for (std::size_t len = 0; len <= 200; ++len) EXPECT_EQ(ours[len], sums[len]) << len;
}

TEST(Md5, EmbeddedImageMatchesMd5sumInAnyPieces) {
    auto image = embedded_image();
    ASSERT_GT(image.size(), 0u);
    TempDir dir;
    auto sums = md5sum({dir.write("image", image.data(), image.size())});
    ASSERT_EQ(sums.size(), 1u);
    EXPECT_EQ(hex(md5(image.data(), image.size())), sums[0]);

    // The same bytes fed in pieces of every awkward size give the same digest.
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 511u, 4096u}) {
        Md5Context ctx;
        md5_init(ctx);
        for (std::size_t at = 0; at < image.size(); at += piece) {
            md5_update(ctx, image.data() + at, std::min(piece, image.size() - at));
        }
        std::array<std::uint8_t, 16> d{};
        md5_final(ctx, d.data());
        EXPECT_EQ(hex(d), sums[0]) << piece;
    }
}

TEST(Md5, FinalWipesTheContext) {
    Md5Context ctx;
    md5_init(ctx);
    md5_update(ctx, "secret password", 15);
    std::uint8_t d[16];
    md5_final(ctx, d);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

}  // namespace
}  // namespace zoq
