// Tests of kestrine.dll's version resource, read the way Explorer's Properties
// dialog reads it (GetFileVersionInfoW, VerQueryValueW), and of the interface
// version, which the resource must leave alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrine.h"

namespace {

std::wstring besideTheTest(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + name;
}

TEST(show_manifest, kestrine_show_declares_per_monitor_v2_awareness) {
    HMODULE show = LoadLibraryExW(besideTheTest(L"kestrine-show.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(show, nullptr);
    HRSRC found = FindResourceW(show, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(show, found)));
    const std::string manifest(text, SizeofResource(show, found));
    FreeLibrary(show);
    EXPECT_NE(manifest.find("<dpiAwareness"), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("true/pm"), std::string::npos);
}

std::wstring dllPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + L"kestrine.dll";
}

class version_resource : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(dllPath().c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(dllPath().c_str(), 0, size, block.data()));
    }

    std::wstring text(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), &value, &length) || length == 0) {
            return L"<missing>";
        }
        return static_cast<const wchar_t*>(value);
    }

    std::vector<unsigned char> block;
};

TEST_F(version_resource, carries_the_file_version_as_numbers) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);  // .0.0
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(version_resource, names_the_product_and_describes_the_file) {
    EXPECT_EQ(text(L"ProductName"), L"Kestrine");
    EXPECT_EQ(text(L"FileDescription"), L"Kestrine chart card for Windows hosts");
    EXPECT_EQ(text(L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(text(L"ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(text(L"OriginalFilename"), L"kestrine.dll");
    EXPECT_EQ(text(L"LegalCopyright"), L"Copyright (c) 2026 The Kestrine authors");
}

TEST_F(version_resource, declares_its_language) {
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x409);
    EXPECT_EQ(translation->codePage, 1200);
}

TEST(interface_version, stays_100_with_the_resource) {
    HMODULE module = LoadLibraryW(dllPath().c_str());
    ASSERT_NE(module, nullptr);
    using IntFn = decltype(&KestrineVersion);
    const IntFn version =
        reinterpret_cast<IntFn>(reinterpret_cast<void*>(GetProcAddress(module, "KestrineVersion")));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 100);
}

}  // namespace
