#pragma once

#include "embedding/plugin_registry.h"

// Registers the external Flutter plugins with the engine, each with the
// registrar obtained under its own name, in a fixed order.
void RegisterPlugins(flutter::PluginRegistry* registry);
