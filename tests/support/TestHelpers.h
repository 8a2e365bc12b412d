#pragma once

#include <QObject>
#include <QString>
#include <QByteArray>
#include <QtGlobal>
#include <string>
#include <vector>

// The named child widget of `parent`; a missing one ends the test run, since
// every later step would only fail less clearly.
template <typename T> T* Child(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        qFatal("no widget %s", name);
    }
    return child;
}

class QTemporaryDir;

// A file `name` in `dir` holding `text`; its path, or empty when it could not
// be written.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text);

// Runs the event loop for `ms`, for checks that something does NOT happen.
void Idle(int ms);

// The text a tool tip shows: as rich text when it looks like markup, the way
// the tool tip itself decides.
QString ToolTipShows(const QString& toolTip);

// The start of the record the HTTP client writes for every request it sends.
inline const std::string kHttpSent = "Will send HTTP request to URL ";

// How many of `messages` begin with `prefix`.
int CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix);
