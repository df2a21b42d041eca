#pragma once
// How the grid shows a song already downloaded: a small mark before its
// title, drawn rather than taken from a font (a blue arrow into a tray for
// 已下载, the same in grey, struck through, for 文件已删除), and its line in
// the row's tooltip: "已下载：downmp3/x.mp3（3.9 MB）", "文件已删除：downmp3/x.mp3".
// UI thread only (the marks are pixmaps, made once).
#include <QIcon>
#include <QString>

#include "store/view/GridFinishedSongs.h"

namespace store {

// Kept: 已下载; gone or replaced: 文件已删除.
QIcon finishedMark(FinishedFileState state);

// The tooltip's line; the path relative to `workingDir` when it lies there
// (the download folder does), whole otherwise.
QString finishedDetails(const FinishedMark& mark, const QString& workingDir);

}  // namespace store
