// SPDX-License-Identifier: MIT
// What zoq-upgrade.exe carries for Windows itself: read from the built file as data, the way
// Explorer and the loader read it (path in ZOQ_UPGRADE_EXE, a Unix path under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace {

std::string program_path() {
    const char* unix_path = std::getenv("ZOQ_UPGRADE_EXE");
    if (!unix_path || !*unix_path) return {};
    std::string path = std::string("Z:") + unix_path;  // Wine's drive for the Unix root
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

class ExecutableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = program_path();
        // ctest always names the executable: without it there is nothing checked, so no pass.
        ASSERT_FALSE(path_.empty()) << "ZOQ_UPGRADE_EXE is not set";
        module_ = LoadLibraryExA(path_.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << path_;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    std::string resource(LPCSTR type, LPCSTR name) {
        HRSRC found = FindResourceA(module_, name, type);
        if (!found) return {};
        HGLOBAL loaded = LoadResource(module_, found);
        const char* bytes = static_cast<const char*>(LockResource(loaded));
        return bytes ? std::string(bytes, SizeofResource(module_, found)) : std::string();
    }
    std::string path_;
    HMODULE module_ = nullptr;
};

TEST_F(ExecutableTest, ManifestAsksForCommonControls6PerMonitorDpiAndNoElevation) {
    std::string manifest = resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));  // RT_MANIFEST
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
}

TEST_F(ExecutableTest, CarriesTheProgramIconTheDialogsNameAndTheFirmware) {
    EXPECT_FALSE(resource(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(286)).empty());  // icon group
    // Template 101 names icon 106, which the program does not carry.
    EXPECT_TRUE(resource(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(106)).empty());
    EXPECT_FALSE(resource("ZOQ_FIRMWARE", MAKEINTRESOURCEA(726)).empty());
}

TEST_F(ExecutableTest, VersionInformationNamesTheProgram) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, "zoq-upgrade.exe");
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\FileDescription",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, "ZOQ Firmware Upgrade");
}

TEST_F(ExecutableTest, IsAWindowsProgramThatNeedsNoDllOfTheCompiler) {
    auto* base = reinterpret_cast<const unsigned char*>(reinterpret_cast<std::uintptr_t>(module_) &
                                                        ~static_cast<std::uintptr_t>(3));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);  // no console window

    // Imports only from the system: mingw's own DLLs (libstdc++-6, libgcc_s_seh-1,
    // libwinpthread-1) are not on a clean Windows.
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    std::vector<std::string> dlls;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name(reinterpret_cast<const char*>(base + entry->Name));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        dlls.push_back(name);
    }
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "comctl32.dll"), dlls.end());
    for (const std::string& dll : dlls) EXPECT_NE(dll.rfind("lib", 0), 0u) << dll;
}

}  // namespace
