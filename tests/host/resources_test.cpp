// tarvex.exe's resources as Windows reads them: the icon group the window
// class loads, the manifest (whose DPI setting Wine does not reveal: it
// reports per-monitor awareness either way), the version information.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using testing::HasSubstr;

std::wstring ProgramPath() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\')) + L"\\tarvex.exe";
}

TEST(ResourcesTest, TheProgramCarriesItsIconItsManifestAndItsVersion) {
  const std::wstring program_path = ProgramPath();
  HMODULE program = LoadLibraryExW(program_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  EXPECT_NE(FindResourceW(program, MAKEINTRESOURCEW(101), RT_GROUP_ICON), nullptr);

  HRSRC manifest = FindResourceW(program, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(program, manifest))),
                         SizeofResource(program, manifest));
  EXPECT_THAT(text, HasSubstr("<requestedExecutionLevel level=\"requireAdministrator\""));
  EXPECT_THAT(text, HasSubstr(">PerMonitorV2</dpiAwareness>"));
  FreeLibrary(program);

  DWORD ignored = 0;
  std::string version(GetFileVersionInfoSizeW(program_path.c_str(), &ignored), '\0');
  ASSERT_FALSE(version.empty());
  ASSERT_TRUE(GetFileVersionInfoW(program_path.c_str(), 0, static_cast<DWORD>(version.size()), &version[0]));
  wchar_t* original_name = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                             reinterpret_cast<void**>(&original_name), &length));
  EXPECT_EQ(std::wstring(original_name), L"tarvex.exe");
}

}  // namespace
