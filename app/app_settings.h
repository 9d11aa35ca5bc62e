#pragma once
// Where the window remembers what it keeps between runs (remote hosts,
// filter expressions): ~/.config/netvane/netvane.conf.

#include <QSettings>

#include <memory>

namespace netvane {

inline std::unique_ptr<QSettings> AppSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("netvane"),
                                     QStringLiteral("netvane"));
}

}  // namespace netvane
