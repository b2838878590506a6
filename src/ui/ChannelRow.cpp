#include "ui/ChannelRow.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

#include "room/RoomCommands.h"
#include "room/RoomState.h"
#include "ui/Icons.h"
#include "ui/Meter.h"
#include "ui/ToggleSwitch.h"

namespace {

constexpr int kDot = 8;
constexpr double kFaded = 0.55;

// The red dot: drawn only while its channel is being recorded; its space stays.
class Dot : public QWidget {
public:
    using QWidget::QWidget;
    bool lit = false;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!lit) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(Qt::red));
        p.drawEllipse(rect());
    }
};

}  // namespace

ChannelRow::ChannelRow(const RoomState& s, RoomCommands& c, int index, QWidget* parent)
    : QWidget(parent), state(s), commands(c), position(index) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 4, 12, 4);
    row->setSpacing(10);

    armed = new ToggleSwitch(this);
    armed->setToolTip(QStringLiteral("Record this input"));
    connect(armed, &QAbstractButton::clicked, this,
            [this](bool on) { commands.setArmed(position, on); });

    dot = new Dot(this);
    dot->setFixedSize(kDot, kDot);

    name = new QLineEdit(this);
    name->setPlaceholderText(QStringLiteral("Name"));
    name->setFixedWidth(170);
    connect(name, &QLineEdit::textEdited, this,
            [this](const QString& text) { commands.setName(position, text); });

    hw = new QLabel(this);
    hw->setFixedWidth(110);
    QFont caption = hw->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    hw->setFont(caption);
    hw->setForegroundRole(QPalette::PlaceholderText);

    level = new Meter(this);

    solo = new QToolButton(this);
    solo->setAutoRaise(true);
    solo->setCheckable(true);
    solo->setIconSize(QSize(22, 22));
    solo->setToolTip(QStringLiteral("Hear only this input in the headphones"));
    solo->setIcon(Icons::headphones(palette().color(QPalette::PlaceholderText)));
    connect(solo, &QToolButton::clicked, this, [this] {
        if (position < state.channels().size())
            commands.setSolo(position, !state.channels()[position].solo);
    });

    for (QWidget* w : std::initializer_list<QWidget*>{armed, dot, name, hw}) row->addWidget(w);
    row->addWidget(level, 1);
    row->addWidget(solo);

    fade = new QGraphicsOpacityEffect(this);
    fade->setOpacity(kFaded);
    fade->setEnabled(false);
    setGraphicsEffect(fade);
    refresh();
}

double ChannelRow::opacity() const {
    return fade->isEnabled() ? fade->opacity() : 1.0;
}

void ChannelRow::refresh() {
    const bool present = position < state.channels().size();
    if (present == partsHidden) {
        // A list that just shrank shows nothing here until the row is rebuilt.
        partsHidden = !present;
        for (QWidget* w : std::initializer_list<QWidget*>{armed, dot, name, hw, level, solo}) {
            w->setVisible(present);
        }
    }
    if (!present) return;
    const Channel& ch = state.channels()[position];
    const bool recording = state.recording();
    if (armed->isChecked() != ch.armed) armed->setChecked(ch.armed);
    armed->setEnabled(!recording);
    auto* d = static_cast<Dot*>(dot);
    if (d->lit != (ch.armed && recording)) {
        d->lit = ch.armed && recording;
        d->update();
    }
    if (!name->hasFocus() && name->text() != ch.name) name->setText(ch.name);
    const QString elided = hw->fontMetrics().elidedText(ch.hwName, Qt::ElideRight, hw->width());
    if (hw->text() != elided) hw->setText(elided);
    level->setPeak(ch.peak);
    if (soloShown != ch.solo) {
        soloShown = ch.solo;
        solo->setChecked(ch.solo);
        solo->setIcon(Icons::headphones(
            palette().color(ch.solo ? QPalette::Highlight : QPalette::PlaceholderText)));
    }
    if (fade->isEnabled() == ch.armed) fade->setEnabled(!ch.armed);
}

void ChannelRow::paintEvent(QPaintEvent*) {
    if (position % 2 != 0) return;
    QPainter p(this);
    QColor stripe = palette().color(QPalette::WindowText);
    stripe.setAlphaF(0.03f);
    p.fillRect(rect(), stripe);
}
