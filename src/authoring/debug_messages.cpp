#include "authoring/debug_messages.h"

#include "platform/platform.h"

namespace korvo {

DebugMessageSink g_debugMessageSink = &platform::DebugOutput;

void SendDebugMessage(const char* message) {
  DebugMessageSink sink = g_debugMessageSink;
  (sink != nullptr ? sink : &platform::DebugOutput)(message);
}

}  // namespace korvo
