#include "link/LinkMessages.h"

#include "base/Instance.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"

namespace {

QList<LinkDevice> devices(const QList<AudioDev>& list) {
    QList<LinkDevice> out;
    out.reserve(list.size());
    for (const AudioDev& d : list) out.append({d.uid, d.name, d.inputs, d.outputs});
    return out;
}

}  // namespace

LinkStatus linkStatus(const RoomState& engine) {
    LinkStatus s;
    s.running = engine.running();
    for (const AudioDev& d : engine.inputs()) {
        if (d.uid == engine.inputUID()) {
            s.device = d.name;
            break;
        }
    }
    s.rate = engine.hwRate();
    s.recording = engine.recording();
    s.folder = engine.folderName();
    s.elapsed = engine.elapsed();
    s.inputs.reserve(engine.channels().size());
    for (const Channel& ch : engine.channels())
        s.inputs.append({ch.id, ch.name, ch.hwName, ch.armed, ch.solo, ch.peak});
    s.monLabel = engine.monLabel();
    s.monPeak = engine.monPeak();
    s.mixPeak = engine.mixPeak();
    s.inputDevices = devices(engine.inputs());
    s.outputDevices = devices(engine.outputs());
    s.inputUID = engine.inputUID();
    s.outputUID = engine.outputUID();
    s.status = engine.status();
    s.timeLeft = engine.remaining();
    s.diskAnswering = engine.diskAnswering();
    s.failure = engine.statusIsFailure();
    s.instance = instance::name();
    return s;
}

void obey(RoomCommands& engine, const RoomState& state, const LinkCommand& c) {
    switch (c.type) {
        case LinkCommand::Type::set: {
            if (!c.i || *c.i < 0 || *c.i >= state.channels().size()) return;
            const int index = static_cast<int>(*c.i);
            if (c.name) engine.setName(index, *c.name);
            if (c.armed) engine.setArmed(index, *c.armed);
            if (c.solo) engine.setSolo(index, *c.solo);
            return;
        }
        case LinkCommand::Type::record:
            if (!c.on) {
                engine.stopRecording();
            } else if (!state.recording()) {
                engine.record(c.folder);
            }
            return;
        case LinkCommand::Type::tone:
            engine.testTone();
            return;
        case LinkCommand::Type::hearMix:
            engine.clearSolo();
            return;
        case LinkCommand::Type::device:
            if (c.input && !c.input->isEmpty()) engine.selectInput(*c.input);
            if (c.output && !c.output->isEmpty()) engine.selectOutput(*c.output);
            return;
    }
}
