#pragma once

#include <QString>

// Which of several recorders on one machine this process is. Each instance
// keeps its own settings, crash markers and window socket; the default one
// (no name) keeps the places a single recorder has always used. Set once at
// launch, before anything reads a setting.
namespace instance {

// Empty for the default instance.
const QString& name();
void setName(const QString& name);
// `base` for the default instance, else `base` + "-" + the name.
QString qualified(const QString& base);

}  // namespace instance
