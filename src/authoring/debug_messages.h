// The authoring side's failure messages. They go to the debugger output channel
// (platform::DebugOutput); tests may put a sink of their own in its place.
#pragma once

namespace korvo {

using DebugMessageSink = void (*)(const char* message);

extern DebugMessageSink g_debugMessageSink;

void SendDebugMessage(const char* message);

}  // namespace korvo
