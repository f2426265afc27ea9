#include "tunnel_fixture.h"

namespace tarvex {

const std::string kCreate = "WindowsVpnPlugin::CreateWireGuardTunnel - ";
const std::string kProtected =
    "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)";

using TunnelCreationTest = TunnelTest;

TEST_F(TunnelCreationTest, WritesTheConfigurationThenInstallsIt) {
  EXPECT_TRUE(plugin.CreateWireGuardTunnel(kConfig, "office"));

  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 8),
      (std::vector<std::string>{kCreate + "Creating WireGuard tunnel for: office",
                                "WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: "
                                "C:\\Apps\\Tarvex\\bin\\wireguard.exe",
                                kCreate + "WireGuard found at: C:\\Apps\\Tarvex\\bin\\wireguard.exe",
                                kCreate + "Using bundled WireGuard executable",
                                "WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                                "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver not found",
                                kCreate + "Config saved to: " + kOfficeConf,
                                "WindowsVpnPlugin::InstallWireGuardTunnel - Installing tunnel: office"}));
  EXPECT_EQ(lines.back(), kCreate + "WireGuard tunnel created successfully");
  EXPECT_EQ(windows.files.at(kOfficeConf),
            "[Interface]\r\nPrivateKey = cGxhY2Vob2xkZXI=\r\nAddress = 10.66.66.2/32, fd42::2/128\r\n\r\n"
            "[Peer]\r\nEndpoint = 203.0.113.5:51820\r\n");
}

// The file holds the private key: it is created new, readable by SYSTEM, the
// administrators and the user only, whatever the folder would pass on.
TEST_F(TunnelCreationTest, TheConfigurationFileIsCreatedNewWithAProtectedDescriptor) {
  windows.folders.insert(std::string(kTemp) + "\\wg");
  windows.files[kOfficeConf] = "an earlier, longer configuration left behind";
  windows.file_security[kOfficeConf] = "D:(A;;FA;;;WD)";

  EXPECT_TRUE(plugin.CreateWireGuardTunnel("a\nb", "office"));

  EXPECT_EQ(windows.files.at(kOfficeConf), "a\r\nb");
  ASSERT_EQ(windows.file_creations.size(), 2u);  // the wg folder's opening, then the file
  const FileCreation& created = windows.file_creations[1];
  EXPECT_EQ(created.path, kOfficeConf);
  EXPECT_EQ(created.access, kGenericWrite);
  EXPECT_EQ(created.share, kFileShareRead | kFileShareWrite);
  EXPECT_EQ(created.disposition, kCreateNew);
  EXPECT_EQ(created.sddl, kProtected);
  EXPECT_EQ(windows.file_security.at(kOfficeConf), kProtected);
  EXPECT_THAT(windows.closed_handles, testing::Contains("token"));
}

TEST_F(TunnelCreationTest, AFilePlantedBeforeTheCreationIsNeitherUsedNorWritten) {
  windows.before_call = [this](const std::string& operation) {
    if (operation == "CreateFileA") {
      windows.files[kOfficeConf] = "planted";
    }
  };

  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));

  EXPECT_EQ(windows.files.at(kOfficeConf), "planted");
  EXPECT_EQ(LogLines().back(), kCreate + "Failed to create config file: " + kOfficeConf);
  EXPECT_THAT(windows.launches, IsEmpty());
}

struct FailedStepCase {
  const char* step;
  int from_call;     // of the creation's calls of the step; 0: none, the disk is full
  bool folder_step;  // else a step of the file's
};

// A folder that cannot be checked is not used; a file that cannot be written
// whole is not left behind (a cut configuration is no tunnel).
TEST_F(TunnelCreationTest, AnyStepOfTheProtectedCreationThatFailsMeansNoFile) {
  const FailedStepCase cases[] = {
      {"OpenProcessToken", 1, true},
      {"ConvertStringSecurityDescriptorToSecurityDescriptorA", 1, true},
      {"CreateFileA", 1, true},
      {"GetFileInformationByHandle", 1, true},
      {"GetSecurityInfo", 1, true},
      {"ConvertSidToStringSidA", 2, true},  // the owner's
      {"OpenProcessToken", 2, false},
      {"GetTokenInformation", 3, false},
      {"ConvertSidToStringSidA", 3, false},
      {"ConvertStringSecurityDescriptorToSecurityDescriptorA", 2, false},
      {"CreateFileA", 2, false},
      {"OpenOsfHandle", 1, false},
      {"FdOpen", 1, false},
      {"FileWrite", 0, false},  // the disk is full after 10 bytes
      {"FileClose", 1, false},
  };
  for (const FailedStepCase& c : cases) {
    windows.fail.clear();
    windows.size_limits = {{kOfficeConf, c.from_call == 0 ? 10 : std::string::npos}};
    windows.before_call = [this, c, seen = 0](const std::string& operation) mutable {
      if (operation == c.step && ++seen == c.from_call) {
        windows.fail[c.step] = kErrorAccessDenied;
      }
    };
    const std::size_t before = LogLines().size();
    EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office")) << c.step << c.from_call;
    // The six lines up to the driver's, then the failure's alone.
    EXPECT_EQ(LogLinesFrom(before).size(), 7u) << c.step << c.from_call;
    EXPECT_EQ(LogLines().back(), c.folder_step ? kCreate + "Failed to create wg directory: " + kTemp + "\\wg"
                                               : kCreate + "Failed to create config file: " + kOfficeConf)
        << c.step << c.from_call;
    EXPECT_EQ(windows.files.count(kOfficeConf), 0u) << c.step << c.from_call;
    EXPECT_EQ(windows.OpenHandles(), 0u) << c.step << c.from_call;
  }
  EXPECT_EQ(windows.calls["CreateProcessA"], 0);
}

struct FolderCase {
  const char* owner;  // null: the user
  bool junction;
  bool used;
};

// Only a folder that SYSTEM, the administrators or this user made, and that
// leads nowhere else, is written or deleted in: anyone may make "wg" in a
// shared TEMP and then swap the files in it.
TEST_F(TunnelCreationTest, TheWgFolderIsUsedOnlyWhenNoOtherUserCanHaveMadeIt) {
  const std::string wg = std::string(kTemp) + "\\wg";
  const FolderCase cases[] = {
      {nullptr, false, true},                                           // this user
      {"S-1-5-18", false, true},                                        // SYSTEM
      {"S-1-5-32-544", false, true},                                    // the Administrators group
      {"S-1-5-21-1004336348-1177238915-682003330-1002", false, false},  // another user
      {nullptr, true, false},                                           // a junction
  };
  for (const FolderCase& c : cases) {
    windows.folders.insert(wg);
    windows.folder_owners = {{wg, c.owner != nullptr ? c.owner : windows.user_sid}};
    windows.junctions.clear();
    if (c.junction) {
      windows.junctions.insert(wg);
    }
    windows.files[kOfficeConf] = "left by an earlier run";
    windows.services.clear();

    std::size_t held_at_delete = 0;  // the folder stays open until its file is gone
    windows.before_call = [&](const std::string& operation) {
      held_at_delete = operation == "DeleteFileA" ? windows.OpenHandles() : held_at_delete;
    };
    const std::size_t before = LogLines().size();
    EXPECT_TRUE(plugin.RemoveWindowsVPNTunnel("office"));
    windows.before_call = nullptr;
    EXPECT_EQ(windows.files.count(kOfficeConf), c.used ? 0u : 1u) << c.owner << c.junction;
    EXPECT_EQ(held_at_delete, c.used ? 1u : 0u) << c.owner << c.junction;
    // A folder that is not used is passed over without a line.
    EXPECT_EQ(LogLinesFrom(before).size(), c.used ? 5u : 4u) << c.owner << c.junction;
    EXPECT_EQ(plugin.CreateWireGuardTunnel(kConfig, "office"), c.used) << c.owner << c.junction;
    EXPECT_EQ(LogLines().back(), kCreate + (c.used ? "WireGuard tunnel created successfully"
                                                   : "Failed to create wg directory: " + wg));
    EXPECT_EQ(windows.files.at(kOfficeConf) == "left by an earlier run", !c.used);  // nothing written
  }
}

struct TempCase {
  const char* temp;  // null: not set
  const char* config_path;
};

TEST_F(TunnelCreationTest, TheWgDirectoryFollowsTempAsItIs) {
  windows.folders.insert("C:\\Temp");
  const TempCase cases[] = {
      {nullptr, "C:\\Temp\\wg\\tarvex_office.conf"},
      {"", "\\wg\\tarvex_office.conf"},
      {"C:\\Users\\ana\\AppData\\Local\\Temp\\",
       "C:\\Users\\ana\\AppData\\Local\\Temp\\\\wg\\tarvex_office.conf"},
  };
  for (const TempCase& c : cases) {
    windows.env.erase("TEMP");
    if (c.temp != nullptr) {
      windows.env["TEMP"] = c.temp;
    }
    EXPECT_TRUE(plugin.CreateWireGuardTunnel("a\r\nb", "office"));
    EXPECT_THAT(LogLines(), testing::Contains(kCreate + "Config saved to: " + c.config_path));
    EXPECT_EQ(windows.files.at(c.config_path), "a\r\r\nb");
    const std::string wg = c.config_path;
    EXPECT_EQ(windows.file_security.at(wg.substr(0, wg.rfind('\\'))), kProtected);
  }
}

TEST_F(TunnelCreationTest, StopsWhereAStepCannotGoOn) {
  windows.env.erase("TEMP");  // and C:\Temp does not exist
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));
  EXPECT_EQ(LogLines().back(), kCreate + "Failed to create wg directory: C:\\Temp\\wg");

  windows.files.erase(kWireGuardExe);
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));
  EXPECT_EQ(LastLogLines(2),
            (std::vector<std::string>{kCreate + "WireGuard executable not found in bundle or system",
                                      kCreate + "Please ensure wireguard.exe is in the bin/ directory"}));

  EXPECT_FALSE(plugin.CreateWireGuardTunnel("", ""));
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, ""));
  EXPECT_EQ(LastLogLines(4),
            (std::vector<std::string>{
                kCreate + "Creating WireGuard tunnel for: ", kCreate + "Config is empty",
                kCreate + "Creating WireGuard tunnel for: ", kCreate + "Network ID is empty"}));
  EXPECT_THAT(windows.launches, IsEmpty());
}

TEST_F(TunnelCreationTest, TheDriverNoticeAndTheKindOfExecutableAreOnlyLogged) {
  windows.files.erase(kWireGuardExe);
  windows.files["C:\\Program Files\\WireGuard\\wireguard.exe"] = "";
  windows.AddService(u"wintun", kServiceStopped, kServiceKernelDriver);
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));  // that wireguard.exe does not run
  windows.services.clear();
  windows.is_admin = false;
  windows.fail["ShellExecuteExA"] = kErrorCancelled;
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));

  const std::vector<std::string> lines = LogLines();
  EXPECT_THAT(lines, testing::Contains(kCreate + "Using system-installed WireGuard executable"));
  EXPECT_THAT(lines, testing::Contains(kCreate + "WireGuard driver already installed, no elevation needed"));
  EXPECT_THAT(lines, testing::Contains(kCreate + "Driver not installed, elevation will be requested"));
  EXPECT_EQ(lines.back(), kCreate + "Failed to install WireGuard tunnel");
  EXPECT_EQ(windows.files.count(kOfficeConf), 1u);  // a failed install leaves the file
}

// The owners close whatever the creation had open when an exception cut it short.
TEST_F(TunnelCreationTest, ExceptionsAreCaughtAndEveryHandleClosed) {
  for (const char* step :
       {"GetTokenInformation", "CreateFileA", "GetSecurityInfo", "OpenOsfHandle", "FdOpen"}) {
    windows.throw_on = {{step, windows.calls[step] + 1}};
    EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office")) << step;
    EXPECT_EQ(LogLines().back(), kCreate + "error: std::bad_alloc") << step;
    EXPECT_EQ(windows.OpenHandles(), 0u) << step;
  }
  windows.throw_on.clear();
  windows.before_call = [](const std::string& operation) {
    if (operation == "CreateFileA") {
      throw 7;  // not a standard exception
    }
  };
  EXPECT_FALSE(plugin.CreateWireGuardTunnel(kConfig, "office"));
  EXPECT_EQ(LogLines().back(), kCreate + "Unknown exception");
}

}  // namespace tarvex
