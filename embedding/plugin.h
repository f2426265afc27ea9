#pragma once

namespace flutter {

// Base of plugin objects; a registrar keeps plugins alive through it.
class Plugin {
 public:
  virtual ~Plugin() = default;
};

}  // namespace flutter
