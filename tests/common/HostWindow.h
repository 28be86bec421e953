#pragma once

// Host windows as a host developer builds them around a page, and what the
// screen shows of them.

#include <QtCore/QUrl>
#include <QtGui/QColor>
#include <QtGui/QImage>
#include <functional>
#include <memory>

class QMainWindow;
class QWebEngineView;
class QRect;
class QWidget;

namespace TestSupport {

// How a host lays out the widget that holds a page: as the window's only
// tab; beside a text panel in a splitter that is the window's only tab; in a
// grid with stretch factors, between labels; alone in a box layout.
enum class HostLayout { Tab, SplitterInTab, GridWithStretch, Box };
void placeIn(QMainWindow& window, HostLayout layout, QWidget* content);

// What a host puts into its layout to show url: a TaviWebPage, or a plain
// container showing a VmsWebWidgets as the host guide does (the view a child
// outside any layout, held at the container's size).
QWidget* pageHolder(bool tabPage, const QString& url);
QWebEngineView* viewIn(QWidget* holder);

// A page of one colour.
QUrl solidPageUrl(const QColor& colour);

// The screen's pixels as the display server holds them (not the widgets
// drawing themselves), and a widget's rectangle in such a picture. On
// Wayland the screen is read with Weston's screenshooter (TAVI_SCREENSHOOTER,
// set by scripts/weston-run.sh) and a window is found by its top rows in the
// picture given: one look at the screen serves every widget of it.
bool onWayland();
QImage screenShot();
QRect screenRect(const QWidget* widget, const QImage& screen);
// Looks at the screen until shows(screen) holds, for up to timeoutMs by the
// clock; whether it did. (Qt 6.4's QTRY_* counts its steps, not the time:
// with a look of a second or more on a loaded machine it would wait for
// many minutes.)
bool screenShowsWithin(int timeoutMs, const std::function<bool(const QImage& screen)>& shows);
// The share (0 to 1) of the pixels of rect within tolerance of colour.
double shareOf(const QImage& image, const QRect& rect, const QColor& colour, int tolerance = 16);

} // namespace TestSupport
