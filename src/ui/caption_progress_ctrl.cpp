#include "caption_progress_ctrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <cmath>

CCaptionProgressCtrl::CCaptionProgressCtrl(QWidget* parent) : QProgressBar(parent) {
    // The colours are taken once, from the palette the control starts with.
    const QPalette& p = palette();
    m_crBar = p.color(QPalette::Active, QPalette::Highlight);
    m_crBackground = p.color(QPalette::Active, QPalette::Base);
    m_crTextOnBar = p.color(QPalette::Active, QPalette::Base);
    setTextVisible(false);
    // Every pass covers the whole control from an off-screen image: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect CCaptionProgressCtrl::ClientRect() const {
    return rect().adjusted(1, 1, -1, -1);
}

int CCaptionProgressCtrl::FilledWidth(int pos, int width) const {
    if (m_nLower >= m_nUpper || width <= 0) return 0;
    const double f = (static_cast<double>(pos) - m_nLower) /
                     (static_cast<double>(m_nUpper) - static_cast<double>(m_nLower));
    const double w = std::trunc(f * width);
    // Beyond the bounds the bar is simply full or empty.
    if (!(w > 0.0)) return 0;
    if (w >= width) return width;
    return static_cast<int>(w);
}

void CCaptionProgressCtrl::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
}

int CCaptionProgressCtrl::SetPos(int pos) {
    const int previous = m_nPos;
    m_nPos = pos;
    const int w = FilledWidth(pos, ClientRect().width());
    if (w != m_nBarWidth) {
        m_nBarWidth = w;
        repaint();
    }
    return previous;
}

void CCaptionProgressCtrl::SetWindowText(const QString& text) {
    if (text == m_strCaption) return;
    m_strCaption = text;
    setAccessibleName(text);
    update();
}

void CCaptionProgressCtrl::resizeEvent(QResizeEvent* event) {
    QProgressBar::resizeEvent(event);
    m_nBarWidth = -1;
}

void CCaptionProgressCtrl::PaintClient(QPainter& painter) {
    const QRect cr = ClientRect();
    const int split = cr.left() + FilledWidth(m_nPos, cr.width());
    const QRect filled(cr.left(), cr.top(), split - cr.left(), cr.height());
    const QRect empty(split, cr.top(), cr.right() + 1 - split, cr.height());
    painter.fillRect(filled, m_crBar);
    painter.fillRect(empty, m_crBackground);
    if (m_strCaption.isEmpty()) return;
    painter.setFont(font());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter.save();
    painter.setClipRect(filled);
    painter.setPen(m_crTextOnBar);
    painter.drawText(cr, flags, m_strCaption);
    painter.setClipRect(empty);
    painter.setPen(Qt::black);
    painter.drawText(cr, flags, m_strCaption);
    painter.restore();
}

void CCaptionProgressCtrl::paintEvent(QPaintEvent* event) {
    ++m_nPaintCount;
    // The border belongs to the frame, not to the bar: it is drawn whatever the range.
    const QRect box = event->rect();
    const qreal ratio = devicePixelRatioF();
    QPixmap buffer(box.size() * ratio);
    buffer.setDevicePixelRatio(ratio);
    {
        QPainter off(&buffer);
        off.translate(-box.topLeft());
        off.setPen(palette().color(QPalette::Dark));
        off.drawRect(rect().adjusted(0, 0, -1, -1));
        if (m_nLower < m_nUpper) {
            PaintClient(off);
        } else {
            // An empty or inverted range shows nothing inside the border.
            off.fillRect(ClientRect(), palette().color(QPalette::Window));
        }
    }
    QPainter screen(this);
    screen.drawPixmap(box.topLeft(), buffer);
}
