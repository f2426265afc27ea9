# The thirteen external plugin libraries the program imports, in the order
# it registers them: library name (without ".dll"), then registrar name. The
# registration function is the registrar name followed by
# "RegisterWithRegistrar".
set(TARVEX_PLUGINS
  app_links_plugin AppLinksPluginCApi
  desktop_drop_plugin DesktopDropPlugin
  file_selector_windows_plugin FileSelectorWindows
  flutter_secure_storage_windows_plugin FlutterSecureStorageWindowsPlugin
  local_notifier_plugin LocalNotifierPlugin
  rive_common_plugin RivePlugin
  screen_retriever_plugin ScreenRetrieverPlugin
  share_plus_plugin SharePlusWindowsPluginCApi
  system_tray_plugin SystemTrayPlugin
  url_launcher_windows_plugin UrlLauncherWindows
  video_player_win_plugin VideoPlayerWinPluginCApi
  window_manager_plugin WindowManagerPlugin
  wireguard_flutter_plugin WireguardFlutterPluginCApi
)

# The library names alone.
set(TARVEX_PLUGIN_LIBRARIES "")
list(LENGTH TARVEX_PLUGINS tarvex_plugin_entries)
math(EXPR tarvex_plugin_last "${tarvex_plugin_entries} - 2")
foreach(tarvex_plugin_index RANGE 0 ${tarvex_plugin_last} 2)
  list(GET TARVEX_PLUGINS ${tarvex_plugin_index} tarvex_plugin_library)
  list(APPEND TARVEX_PLUGIN_LIBRARIES ${tarvex_plugin_library})
endforeach()
