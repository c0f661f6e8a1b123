#include "helpers/ConsoleStyle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

#include <memory>

ConsoleStyle::ConsoleStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
}

void ConsoleStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                 const QWidget* widget) const
{
    if ((element != PE_PanelLineEdit && element != PE_FrameLineEdit) || !option || option->rect.isEmpty()
        || option->rect.width() > 2000 || option->rect.height() > 200) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    // Everything the frame's look depends on: size, state and colours.
    const QPalette& pal = option->palette;
    QString key = QStringLiteral("trellane-frame-%1-%2x%3-%4-%5")
                      .arg(int(element))
                      .arg(option->rect.width())
                      .arg(option->rect.height())
                      .arg(uint(option->state), 0, 16)
                      .arg(dpr);
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window, QPalette::Highlight, QPalette::Shadow,
                                     QPalette::Light, QPalette::Dark, QPalette::Mid, QPalette::Text})
        key += QLatin1Char('-') + QString::number(pal.color(role).rgba(), 16);
    if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option))
        key += QStringLiteral("-%1-%2").arg(frame->lineWidth).arg(int(frame->features));

    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = QPixmap((QSizeF(option->rect.size()) * dpr).toSize());
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        std::unique_ptr<QStyleOption> copy;
        if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option))
            copy = std::make_unique<QStyleOptionFrame>(*frame);
        else
            copy = std::make_unique<QStyleOption>(*option);
        copy->rect = QRect(QPoint(0, 0), option->rect.size());
        QProxyStyle::drawPrimitive(element, copy.get(), &p, widget);
        p.end();
        QPixmapCache::insert(key, pixmap);
    }
    painter->drawPixmap(option->rect.topLeft(), pixmap);
}

bool AltKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    if (!(mods & Qt::AltModifier) || (mods & (Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false;
    // An open menu picks its items by letter.
    if (qobject_cast<QMenu*>(watched))
        return false;
    return watched->isWidgetType();
}

bool EnterKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || key->isAutoRepeat())
        return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || !button->hasFocus() || !button->isEnabled())
        return false;
    button->animateClick();
    return true;
}

namespace Trellane {

void useConsoleStyle()
{
    QApplication::setStyle(new ConsoleStyle);
    qApp->installEventFilter(new AltKeyFilter(qApp));
    qApp->installEventFilter(new EnterKeyFilter(qApp));
}

void fitCaption(QAbstractButton* button)
{
    QFont font = button->font();
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    while (QFontMetrics(font).horizontalAdvance(caption) + 10 > button->width() && font.pointSizeF() > 6)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    button->setFont(font);
}

} // namespace Trellane
