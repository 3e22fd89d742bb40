#pragma once
// The progress bar of every image row and channel: it paints itself completely, the filled part
// and the empty part, and writes its caption across both in two colours. Bounds and position
// live only in its members; the base class's own range and value are never used.
#include <QColor>
#include <QProgressBar>
#include <QString>
#include <string>

class CCaptionProgressCtrl : public QProgressBar {
    Q_OBJECT

public:
    explicit CCaptionProgressCtrl(QWidget* parent = nullptr);

    // Stores the bounds; does not repaint.
    void SetRange(int lower, int upper);
    // Stores the position and returns the previous one. Repaints at once (before returning)
    // when the filled width in pixels changes, and only then.
    int SetPos(int pos);
    // The caption (the control's window text). A different text invalidates the control; the
    // repaint follows at the next paint cycle, or at once with a repainting SetPos.
    void SetWindowText(const QString& text);
    void SetWindowText(const std::string& text) { SetWindowText(QString::fromStdString(text)); }
    void setText(const QString& text) { SetWindowText(text); }
    QString GetWindowText() const { return m_strCaption; }
    // The caption, for accessibility tools and tests that read the bar as a progress bar.
    QString text() const override { return m_strCaption; }

    int Pos() const { return m_nPos; }
    int Lower() const { return m_nLower; }
    int Upper() const { return m_nUpper; }
    // Filled width at the last position change; -1 before the first one or after a resize.
    int BarWidth() const { return m_nBarWidth; }
    QColor BarColor() const { return m_crBar; }
    QColor BackgroundColor() const { return m_crBackground; }
    QColor TextOnBarColor() const { return m_crTextOnBar; }
    // The area the bar fills (inside the one-pixel border).
    QRect ClientRect() const;
    // Paint passes so far (tests count repaints with it).
    int PaintCount() const { return m_nPaintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int FilledWidth(int pos, int width) const;
    void PaintClient(QPainter& painter);

    int m_nPos = 0;
    int m_nUpper = 100;
    int m_nLower = 0;
    QString m_strCaption;
    int m_nBarWidth = -1;
    QColor m_crBar;
    QColor m_crBackground;
    QColor m_crTextOnBar;
    int m_nPaintCount = 0;
};
