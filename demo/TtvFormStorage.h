#pragma once
// Keeps a window's position and size in the per-user registry between runs.

#include <QList>
#include <QRect>
#include <QString>

class QWidget;

/// Stores window placements below a base path of HKEY_CURRENT_USER, one key per
/// application title and window class, with the integers "Left", "Top", "Width" and
/// "Height" (the window's outer edges in screen pixels). The window state is not stored.
class TtvFormStorage {
public:
    /// Placements go below `ABasePath`; a non-empty path gets a trailing "\" when it lacks one.
    explicit TtvFormStorage(const QString& ABasePath);

    /// Applies the stored placement to `AForm` (null: nothing). Without a stored key the
    /// window keeps its placement. A key that lacks a value or holds one of another type
    /// raises ERegistryError naming the value; the values read before it stay applied.
    void ReadFormPlacement(QWidget* AForm);
    /// Stores the current placement of `AForm` (null: nothing), creating the key when
    /// needed; writes nothing when the key cannot be opened.
    void WriteFormPlacement(QWidget* AForm);

    /// Where a window stored at the outer rectangle `AStored` goes back: unchanged on the screen
    /// that shows most of it, moved (and shrunk to the screen, when larger) so that all of it
    /// is on that screen; on the first screen when none shows any of it. `AScreens` are the
    /// screens' available rectangles, the primary screen first.
    static QRect FitPlacement(const QRect& AStored, const QList<QRect>& AScreens);

    /// The base path, empty or ending with "\".
    QString BasePath() const { return FBasePath; }

private:
    /// The base path, the application title and, for a window, "\" and its class name.
    QString GetFormKey(const QWidget* AForm) const;

    QString FBasePath;
};
