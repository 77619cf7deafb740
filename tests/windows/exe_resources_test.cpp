// What Explorer reads from Quenvar.exe: its version information and its icon.
#include <gtest/gtest.h>

#include <vector>

#include "icon_check.h"
#include "icon_format.h"
#include "identity.h"
#include "quenvar_driver.h"

namespace {

using quenvar::e2e::settings;

std::wstring versionString(const std::vector<BYTE>& data, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
  if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
    return L"<missing>";
  return std::wstring(value, length > 0 ? length - 1 : 0);
}

TEST(QuenvarExe, VersionInformation) {
  const DWORD size = GetFileVersionInfoSizeW(settings().exePath.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(settings().exePath.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  constexpr DWORD kVersion[] = {QUENVAR_VERSION_NUMBERS};
  const DWORD high = kVersion[0] << 16 | kVersion[1], low = kVersion[2] << 16 | kVersion[3];
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804);
  EXPECT_EQ(translation[1], 1200);

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileVersion", L"" QUENVAR_VERSION_STRING}, {L"ProductVersion", L"" QUENVAR_VERSION_STRING},
      {L"ProductName", L"" QUENVAR_NAME},           {L"FileDescription", L"" QUENVAR_NAME},
      {L"InternalName", L"" QUENVAR_NAME},          {L"OriginalFilename", L"" QUENVAR_EXE_NAME},
  };
  for (auto [name, want] : strings)
    EXPECT_EQ(versionString(data, name), want) << "version string";
}

BOOL CALLBACK firstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  *reinterpret_cast<LPCWSTR*>(found) = name;
  return FALSE;
}

TEST(QuenvarExe, FirstIconHasFourteenDibImagesInOrder) {
  const HMODULE exe = LoadLibraryExW(settings().exePath.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(exe, nullptr);
  LPCWSTR first = nullptr;
  EnumResourceNamesW(exe, RT_GROUP_ICON, firstName, reinterpret_cast<LONG_PTR>(&first));
  ASSERT_NE(first, nullptr) << "no icon";
  ASSERT_TRUE(IS_INTRESOURCE(first));
  const HRSRC groupInfo = FindResourceW(exe, first, RT_GROUP_ICON);
  const auto* group = static_cast<const std::uint8_t*>(LockResource(LoadResource(exe, groupInfo)));
  std::vector<quenvar::test::IconDirectoryEntry> entries;
  ASSERT_TRUE(
      quenvar::test::readIconDirectory(group, SizeofResource(exe, groupInfo), true, entries));
  ASSERT_EQ(entries.size(), quenvar::icon::kIconImages.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& want = quenvar::icon::kIconImages[i];
    SCOPED_TRACE("image " + std::to_string(i));
    EXPECT_EQ(entries[i].width, want.size);
    EXPECT_EQ(entries[i].bitCount, want.bitCount);
    const HRSRC imageInfo = FindResourceW(exe, MAKEINTRESOURCEW(entries[i].offsetOrId), RT_ICON);
    ASSERT_NE(imageInfo, nullptr);
    const auto* image =
        static_cast<const std::uint8_t*>(LockResource(LoadResource(exe, imageInfo)));
    EXPECT_EQ(quenvar::test::checkIconImage(image, SizeofResource(exe, imageInfo), want), "");
  }
  FreeLibrary(exe);
}

}  // namespace
