#include "ui/RootView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "base/RemainingTime.h"
#include "base/Settings.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"
#include "ui/ChannelRow.h"
#include "ui/Icons.h"
#include "ui/Meter.h"

namespace {

constexpr int kRowsShown = 8;  // without "Show all inputs"
constexpr int kFooterLabel = 90;

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void captionFont(QWidget* w, bool bold = false) {
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    f.setBold(bold);
    w->setFont(f);
}

template <typename T>
void setIfChanged(T* widget, bool enabled) {
    if (widget->isEnabled() != enabled) widget->setEnabled(enabled);
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

}  // namespace

RootView::RootView(const RoomState& s, RoomCommands& c, QWidget* parent)
    : QWidget(parent), state(s), commands(c) {
    chooseFolder = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Folder"), start,
                                                 QFileDialog::ShowDirsOnly);
    };
    setMinimumSize(960, 520);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header());
    column->addWidget(divider(this));

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* list = new QWidget(scroll);
    rowList = new QVBoxLayout(list);
    rowList->setContentsMargins(0, 0, 0, 0);
    rowList->setSpacing(0);
    rowList->addStretch(1);
    scroll->setWidget(list);
    column->addWidget(scroll, 1);

    column->addWidget(divider(this));
    column->addWidget(footer());
    status = new QLabel(this);
    status->setWordWrap(true);
    captionFont(status);
    status->setMaximumHeight(status->fontMetrics().lineSpacing() * 2 + 2);  // at most 2 lines
    status->setContentsMargins(12, 0, 12, 8);
    column->addWidget(status);

    connect(&state, &RoomState::changed, this, &RootView::scheduleRefresh);
    refresh();
}

QWidget* RootView::header() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(14);

    auto* devices = new QGridLayout();
    devices->setVerticalSpacing(6);
    inputs = new QComboBox(box);
    outputs = new QComboBox(box);
    for (QComboBox* picker : {inputs, outputs}) picker->setFixedWidth(320);
    devices->addWidget(new QLabel(QStringLiteral("Inputs"), box), 0, 0);
    devices->addWidget(inputs, 0, 1);
    devices->addWidget(new QLabel(QStringLiteral("Headphones"), box), 1, 0);
    devices->addWidget(outputs, 1, 1);
    outputsNote = new QLabel(QStringLiteral("Through ALSA, headphones play on the recording "
                                            "interface only"),
                             box);
    captionFont(outputsNote);
    outputsNote->setForegroundRole(QPalette::PlaceholderText);
    outputsNote->hide();
    devices->addWidget(outputsNote, 2, 1);
    connect(inputs, &QComboBox::activated, this,
            [this](int at) { commands.selectInput(inputs->itemData(at).toString()); });
    connect(outputs, &QComboBox::activated, this,
            [this](int at) { commands.selectOutput(outputs->itemData(at).toString()); });
    row->addLayout(devices);

    auto* folders = new QVBoxLayout();
    folders->setSpacing(6);
    auto* top = new QHBoxLayout();
    folder = new QPushButton(QStringLiteral("Folder…"), box);
    connect(folder, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseFolder(state.rootPath());
        if (!chosen.isEmpty()) commands.setRoot(chosen);
    });
    rootPath = new QLabel(box);
    captionFont(rootPath);
    rootPath->setForegroundRole(QPalette::PlaceholderText);
    rootPath->setMaximumWidth(260);
    top->addWidget(folder);
    top->addWidget(rootPath);
    top->addStretch(1);
    auto* bottom = new QHBoxLayout();
    showAll = new QCheckBox(QStringLiteral("Show all inputs"), box);
    connect(showAll, &QCheckBox::clicked, this, [this](bool on) { commands.setShowAll(on); });
    refreshDevices = new QPushButton(QStringLiteral("Refresh devices"), box);
    connect(refreshDevices, &QPushButton::clicked, this, [this] {
        commands.refreshDevices();
        commands.startEngine();
    });
    bottom->addWidget(showAll);
    bottom->addWidget(refreshDevices);
    bottom->addStretch(1);
    folders->addLayout(top);
    folders->addLayout(bottom);
    row->addLayout(folders);
    row->addStretch(1);

    auto* recorder = new QVBoxLayout();
    recorder->setSpacing(4);
    record = new QPushButton(box);
    record->setIcon(Icons::recordDot(Qt::white));
    record->setIconSize(QSize(12, 12));
    QFont bold = record->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    record->setFont(bold);
    record->setMinimumSize(150, 40);
    connect(record, &QPushButton::clicked, this, [this] {
        if (state.recording()) {
            commands.stopRecording();
        } else {
            commands.record();
        }
    });
    elapsed = new QLabel(box);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(mono.pointSizeF() * 1.5);
    elapsed->setFont(mono);
    elapsed->setAlignment(Qt::AlignCenter);
    timeLeft = new QLabel(box);
    captionFont(timeLeft);
    timeLeft->setAlignment(Qt::AlignCenter);
    folderName = new QLabel(box);
    captionFont(folderName);
    folderName->setForegroundRole(QPalette::PlaceholderText);
    folderName->setAlignment(Qt::AlignCenter);
    recorder->addWidget(record, 0, Qt::AlignHCenter);
    recorder->addWidget(elapsed);
    recorder->addWidget(timeLeft);
    recorder->addWidget(folderName);
    row->addLayout(recorder);
    return box;
}

QWidget* RootView::footer() {
    auto* box = new QWidget(this);
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(12, 8, 12, 8);
    rows->setSpacing(6);

    auto* mixRow = new QHBoxLayout();
    mixRow->setSpacing(10);
    auto* mixLabel = new QLabel(QStringLiteral("MIX"), box);
    captionFont(mixLabel, true);
    mixLabel->setFixedWidth(kFooterLabel);
    mix = new Meter(box);
    mixRow->addWidget(mixLabel);
    mixRow->addWidget(mix, 1);
    mixRow->addSpacing(kFooterLabel);

    auto* monRow = new QHBoxLayout();
    monRow->setSpacing(10);
    auto* monBox = new QWidget(box);
    monBox->setFixedWidth(kFooterLabel);
    auto* monParts = new QHBoxLayout(monBox);
    monParts->setContentsMargins(0, 0, 0, 0);
    monParts->setSpacing(4);
    auto* icon = new QLabel(monBox);
    icon->setPixmap(Icons::headphones(palette().color(QPalette::WindowText)).pixmap(14, 14));
    monLabel = new QLabel(monBox);
    captionFont(monLabel, true);
    monParts->addWidget(icon);
    monParts->addWidget(monLabel, 1);
    mon = new Meter(box);
    hearMix = new QPushButton(QStringLiteral("Hear mix"), box);
    connect(hearMix, &QPushButton::clicked, this, [this] { commands.clearSolo(); });
    tone = new QPushButton(QStringLiteral("Test tone"), box);
    tone->setToolTip(QStringLiteral("Plays a short beep to the headphones"));
    connect(tone, &QPushButton::clicked, this, [this] { commands.testTone(0.7); });
    monRow->addWidget(monBox);
    monRow->addWidget(mon, 1);
    monRow->addWidget(hearMix);
    monRow->addWidget(tone);

    rows->addLayout(mixRow);
    rows->addLayout(monRow);
    return box;
}

void RootView::scheduleRefresh() {
    if (pending) return;
    pending = true;
    QMetaObject::invokeMethod(this, &RootView::refresh, Qt::QueuedConnection);
}

QString RootView::clock(double seconds) {
    const auto s = static_cast<long long>(std::max(seconds, 0.0));
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

QString RootView::statusLine(bool linked, const QString& server, const QString& text) {
    const QString prefix =
        linked ? QStringLiteral("● Control Room linked · ")
               : QStringLiteral("○ Control Room not linked (") + server + QStringLiteral(") · ");
    return prefix + text;
}

void RootView::refreshPickers() {
    auto fill = [](QComboBox* picker, const QList<AudioDev>& devices, const QString& chosen,
                   bool counts) {
        QStringList labels, uids;
        for (const AudioDev& d : devices) {
            labels << (counts ? d.name + QStringLiteral(" (%1 in)").arg(d.inputs) : d.name);
            uids << d.uid;
        }
        bool same = picker->count() == labels.size();
        for (int k = 0; same && k < labels.size(); ++k) {
            same = picker->itemText(k) == labels[k] && picker->itemData(k).toString() == uids[k];
        }
        if (!same) {
            picker->clear();
            for (int k = 0; k < labels.size(); ++k) picker->addItem(labels[k], uids[k]);
        }
        const int at = static_cast<int>(uids.indexOf(chosen));
        if (picker->currentIndex() != at) picker->setCurrentIndex(at);
    };
    fill(inputs, state.inputs(), state.inputUID(), true);
    fill(outputs, state.outputs(), state.outputUID(), false);
    outputsNote->setVisible(state.headphonesOnInputOnly());
}

void RootView::rebuildRows() {
    const int wanted = static_cast<int>(
        state.showAll() ? state.channels().size()
                        : std::min<qsizetype>(state.channels().size(), kRowsShown));
    if (static_cast<int>(channelRows.size()) == wanted) return;
    for (ChannelRow* row : channelRows) delete row;
    channelRows.clear();
    for (int k = 0; k < wanted; ++k) {
        auto* row = new ChannelRow(state, commands, k);
        rowList->insertWidget(k, row);
        channelRows.push_back(row);
    }
}

void RootView::refresh() {
    pending = false;
    const bool recording = state.recording();
    refreshPickers();
    for (QWidget* w : std::initializer_list<QWidget*>{inputs, outputs, folder, refreshDevices}) {
        setIfChanged(w, !recording);
    }
    setText(rootPath, rootPath->fontMetrics().elidedText(state.rootPath(), Qt::ElideMiddle, 260));
    if (showAll->isChecked() != state.showAll()) showAll->setChecked(state.showAll());

    setIfChanged(record, state.running());
    const QString recordText = recording ? QStringLiteral("STOP") : QStringLiteral("RECORD");
    if (record->text() != recordText) {
        record->setText(recordText);
        QPalette p = record->palette();
        p.setColor(QPalette::Button, recording ? QColor(128, 128, 128) : QColor(200, 30, 30));
        p.setColor(QPalette::ButtonText, Qt::white);
        record->setPalette(p);
    }
    setText(elapsed, recording ? clock(state.elapsed()) : QStringLiteral("00:00:00"));
    setText(timeLeft, !state.diskAnswering()    ? QStringLiteral("disk not answering")
                      : state.remaining() < 0.0 ? QString()
                                                : remainingText(state.remaining()));
    // In the meter's colours: yellow under 10 minutes, red under 2.
    const double left = state.remaining();
    const QColor warning = !state.diskAnswering() || (left >= 0.0 && left < 120.0)
                               ? Meter::colour(1.0)
                           : left >= 0.0 && left < 600.0 ? Meter::colour(0.9)
                                                         : QColor();
    QPalette tinted = palette();
    if (warning.isValid()) tinted.setColor(QPalette::WindowText, warning);
    if (timeLeft->palette().color(QPalette::WindowText) != tinted.color(QPalette::WindowText))
        timeLeft->setPalette(tinted);
    setText(folderName, state.folderName());
    folderName->setVisible(recording);

    rebuildRows();
    for (ChannelRow* row : channelRows) row->refresh();

    mix->setPeak(state.mixPeak());
    mon->setPeak(state.monPeak());
    setText(monLabel, monLabel->fontMetrics().elidedText(state.monLabel(), Qt::ElideRight,
                                                         kFooterLabel - 18));
    bool anySolo = false;
    for (const Channel& ch : state.channels()) anySolo = anySolo || ch.solo;
    setIfChanged(hearMix, anySolo);

    setText(status, statusLine(state.linkConnected(), Settings().server(), state.status()));
    const QColor colour =
        state.statusIsFailure() ? QColor(Qt::red) : palette().color(QPalette::PlaceholderText);
    if (status->palette().color(QPalette::WindowText) != colour) {
        QPalette p = status->palette();
        p.setColor(QPalette::WindowText, colour);
        status->setPalette(p);
    }
}
