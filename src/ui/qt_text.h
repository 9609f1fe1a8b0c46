// The shared texts are UTF-8 C strings; Qt wants QString.
#pragma once

#include <QString>
#include <string>

namespace kfr::ui {

inline QString qs(const char* text) { return QString::fromUtf8(text); }
inline QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace kfr::ui
