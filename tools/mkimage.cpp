// SPDX-License-Identifier: MIT
// Writes the firmware image the program carries, and checks any image before it is built in.
// The image is our own: a header the program reads, and deterministic pseudo-random bytes
// everywhere else, so that a transfer that drops, repeats or shifts a block shows in a compare.
//
//   zoq-mkimage make OUT [SIZE [TAG [VERSION]]]
//   zoq-mkimage check IMAGE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t HEADER = 128;
constexpr std::size_t VERSION_AT = 0x5c;
constexpr std::size_t LENGTH_AT = 0x58;
constexpr std::size_t MAX_BLOCKS = 65535;

int make(const char* out, std::size_t size, const std::string& tag, const std::string& version) {
    if (size < HEADER || tag.size() > 16 || version.size() > HEADER - VERSION_AT - 1) {
        std::fprintf(stderr, "zoq-mkimage: size, tag or version out of range\n");
        return 2;
    }
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = 0x2545F491u;  // xorshift32; fixed seed, same bytes on every build
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    std::memset(image.data(), ' ', 16);
    std::memcpy(image.data(), tag.data(), tag.size());
    if (tag.size() < 8) std::memcpy(image.data() + 8, "FiRmWaRe", 8);
    auto n = static_cast<std::uint32_t>(size);
    image[LENGTH_AT] = static_cast<std::uint8_t>(n >> 24);
    image[LENGTH_AT + 1] = static_cast<std::uint8_t>(n >> 16);
    image[LENGTH_AT + 2] = static_cast<std::uint8_t>(n >> 8);
    image[LENGTH_AT + 3] = static_cast<std::uint8_t>(n);
    std::memset(image.data() + VERSION_AT, 0, HEADER - VERSION_AT);
    std::memcpy(image.data() + VERSION_AT, version.data(), version.size());
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
    if (!f) {
        std::fprintf(stderr, "zoq-mkimage: cannot write %s\n", out);
        return 1;
    }
    return 0;
}

int check(const char* path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "zoq-mkimage: cannot read %s\n", path);
        return 1;
    }
    std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(f)),
                                    std::istreambuf_iterator<char>());
    if (image.size() < HEADER) {
        std::fprintf(stderr, "%s: the image is shorter than %zu bytes\n", path, HEADER);
        return 1;
    }
    bool nul = false;
    for (std::size_t i = VERSION_AT; i < HEADER; ++i) nul = nul || image[i] == 0;
    if (!nul) {
        std::fprintf(stderr, "%s: the version text at 0x5c has no NUL inside the header\n", path);
        return 1;
    }
    // Block numbers on the wire are 16 bits and the session sends size / 512 + 1 blocks.
    if (image.size() / 512 + 1 > MAX_BLOCKS) {
        std::fprintf(stderr, "%s: the image needs more than %zu blocks of 512 bytes\n", path,
                     MAX_BLOCKS);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
        std::size_t size = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 981328;
        std::string tag = argc > 4 ? argv[4] : "ZoQ4502";
        std::string version = argc > 5 ? argv[5] : "5.2.13(004)";
        return make(argv[2], size, tag, version);
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2]);
    std::fprintf(stderr,
                 "usage: zoq-mkimage make OUT [SIZE [TAG [VERSION]]]\n"
                 "       zoq-mkimage check IMAGE\n");
    return 2;
}
