#pragma once

#include "window/qt/qt_window_layer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <vector>

namespace tagrelay::test {

/// Every event the layer has pending, after Qt delivered what it had.
inline std::vector<Event> takeEvents(QtWindowLayer& layer)
{
    std::vector<Event> events;
    for (Event event = layer.pollEvent(); event.kind != EventKind::None; event = layer.pollEvent())
        events.push_back(event);
    return events;
}

/// The pending events without the loop turns that window activity asks for.
inline std::vector<Event> takeGadgetAndCloseEvents(QtWindowLayer& layer)
{
    std::vector<Event> events;
    for (const Event& event : takeEvents(layer)) {
        if (event.kind != EventKind::Other)
            events.push_back(event);
    }
    return events;
}

/// A left click in the middle of a widget, as the mouse gives it.
inline void clickWithMouse(QWidget* widget)
{
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

} // namespace tagrelay::test
