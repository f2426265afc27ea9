#pragma once

#include <memory>

#include "standins/engine/transcript.h"

namespace standin {

// From now on, every message box the process shows is written to
// `transcript` ("dialog <caption> | <text> | icon <icon>", the icon being
// error, warning, information, question, none or other) and dismissed with
// its OK button about 200 ms after it appeared. A later call only changes the
// transcript.
void AcceptDialogs(std::shared_ptr<Transcript> transcript);

}  // namespace standin
