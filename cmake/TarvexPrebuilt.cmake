# Building against the real engine library and plugin libraries instead of
# the stand-ins. TARVEX_PREBUILT_DIR holds, side by side:
#   flutter_windows.dll and its import library flutter_windows.dll.lib
#   <plugin library>.dll and <plugin library>.lib for each plugin of
#     cmake/TarvexPlugins.cmake
#   data/ with flutter_assets, icudtl.dat and app.so
# Each becomes an imported target of the name the stand-in has, so the rest
# of the build is the same.

function(tarvex_import_prebuilt target)
  set(dll "${TARVEX_PREBUILT_DIR}/${target}.dll")
  set(import_library "${TARVEX_PREBUILT_DIR}/${target}.lib")
  if(NOT EXISTS "${import_library}")
    set(import_library "${TARVEX_PREBUILT_DIR}/${target}.dll.lib")
  endif()
  foreach(file "${dll}" "${import_library}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "TARVEX_PREBUILT_DIR: ${file} is missing")
    endif()
  endforeach()
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${dll}" IMPORTED_IMPLIB "${import_library}")
endfunction()

if(NOT EXISTS "${TARVEX_PREBUILT_DIR}/data/flutter_assets")
  message(FATAL_ERROR "TARVEX_PREBUILT_DIR: ${TARVEX_PREBUILT_DIR}/data/flutter_assets is missing")
endif()
foreach(library flutter_windows ${TARVEX_PLUGIN_LIBRARIES})
  tarvex_import_prebuilt(${library})
endforeach()
