#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

#include <optional>

namespace ui {

// Saves `picture` as a PNG in the user's Pictures folder (the home folder
// when there is none and none can be made), named after `when` as
// "Orvalen YYYY-MM-DD HH-MM-SS.png", or with " 2", " 3" ... before the
// extension when that name is taken: an existing file is never replaced.
// Returns the path written; nothing for an empty picture or when the file
// could not be written completely (a partial file is removed).
std::optional<QString> saveSnapshot(const QImage& picture, const QDateTime& when = QDateTime::currentDateTime());

}  // namespace ui
