#pragma once

#include <QByteArray>
#include <functional>
#include <memory>

class QObject;
class VcaConfigReader;

// Reading a configuration text without holding up the GUI thread: parsing
// takes about 35 ms a MiB, so a text past kReadAsideBytes is read on a
// thread of its own while the event loop goes on; a smaller one at once.
namespace configread {

constexpr int kReadAsideBytes = 1024 * 1024;

// The reader of `content`; a large text is read while a local event loop
// runs (for callers that already wait in one).
std::shared_ptr<const VcaConfigReader> ReadWaiting(const QByteArray& content);

// Hands the reader of `content` to `then` on the GUI thread: before it
// returns for a small text (true), later for a large one (false), and never
// once `context` was destroyed (which waits for a read under way).
bool ReadThen(QObject* context, const QByteArray& content,
              const std::function<void(const VcaConfigReader&)>& then);

} // namespace configread
