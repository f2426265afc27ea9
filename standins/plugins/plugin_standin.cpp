// One external plugin library of the program, as a stand-in: its
// registration function records that it was called and does nothing else.
// Built once per plugin; the build names the plugin (TARVEX_PLUGIN_NAME)
// and exports RecordRegistration under the plugin's registration function
// name (a module-definition file).
//
// With TARVEX_STANDIN_PLUGIN_RECORD set, each registration appends one line
// to that file: "<plugin name> <name of the registrar's plugin> <apartment>",
// with "null" for a null registrar handle, and the COM apartment of the
// calling thread: "mainsta", "sta", "mta", "na", or "none" before COM was
// initialised there.

#include <objbase.h>

#include <string>

#include "embedding/flutter_windows.h"
#include "standins/record/standin_record.h"

// The engine-library stand-in tells under which plugin name a registrar was
// obtained.
extern "C" {
__declspec(dllimport) const char* TarvexStandinRegistrarName(FlutterDesktopPluginRegistrar* registrar);
}

namespace {

std::string ApartmentOfThisThread() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) {
    return "none";
  }
  switch (type) {
    case APTTYPE_MAINSTA:
      return "mainsta";
    case APTTYPE_STA:
      return "sta";
    case APTTYPE_MTA:
      return "mta";
    case APTTYPE_NA:
      return "na";
    default:
      return std::to_string(static_cast<int>(type));
  }
}

}  // namespace

extern "C" void RecordRegistration(FlutterDesktopPluginRegistrar* registrar) {
  const std::wstring record = standin::PathFromEnvironment(L"TARVEX_STANDIN_PLUGIN_RECORD");
  if (record.empty()) {
    return;
  }
  std::string registrar_name = "null";
  if (registrar != nullptr) {
    const char* name = TarvexStandinRegistrarName(registrar);
    registrar_name = name != nullptr ? name : "unknown";
  }
  standin::AppendLine(
      record, std::string(TARVEX_PLUGIN_NAME) + " " + registrar_name + " " + ApartmentOfThisThread() + "\n");
}
