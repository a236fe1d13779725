#pragma once

#include <QString>

#include <cstdint>

// The option store: the user's own settings, application "Tandrelwerk", section "Kopyra",
// values kept as text. Here that is the INI file Tandrelwerk.conf in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), group [Kopyra]. A store that is damaged or cannot
// be written never stops the program (see SettingsFile): the options then hold for the run.
namespace AAB {

void SaveOption(const QString& key, std::int16_t value);
void SaveOption(const QString& key, const QString& value);

// The stored text, or the default's text when there is no entry. Never writes.
QString LoadOption(const QString& key, std::int16_t defaultValue);
QString LoadOption(const QString& key, const QString& defaultValue);

// Where the store lives for the current user.
QString storeFile();

} // namespace AAB
