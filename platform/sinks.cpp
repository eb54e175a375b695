// Debug output and the application message box go to a sink when one is installed (tests,
// the dialog), otherwise to the backend's default.
#include <mutex>

#include "platform/backend.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::mutex g_sinkMutex;
TextSink g_debugSink;
TextSink g_boxSink;

TextSink Current(const TextSink& sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    return sink;
}

void Install(TextSink& slot, TextSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    slot = std::move(sink);
}

}  // namespace

void WriteDebugOutput(const std::wstring& text) {
    if (TextSink sink = Current(g_debugSink)) {
        sink(text);
    } else {
        DefaultDebugOutput(text);
    }
}

void SetDebugSink(TextSink sink) {
    Install(g_debugSink, std::move(sink));
}

void AppMessageBox(const std::wstring& text) {
    if (TextSink sink = Current(g_boxSink)) {
        sink(text);
    } else {
        DefaultAppMessageBox(text);
    }
}

void SetAppMessageBoxSink(TextSink sink) {
    Install(g_boxSink, std::move(sink));
}

}  // namespace platform
