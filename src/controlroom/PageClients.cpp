#include "controlroom/PageClients.h"

#include <QWebSocket>

#include "controlroom/Recorders.h"
#include "controlroom/SocketLimits.h"
#include "protocol/JsonRead.h"
#include "protocol/JsonWriter.h"

namespace {

using L = QLatin1StringView;

QByteArray recorderText(const Recorders::Recorder& r) {
    JsonWriter w;
    w.beginObject();
    w.key("type").value(QStringLiteral("recorder"));
    w.key("id").value(r.id);
    w.key("label").value(r.label);
    w.key("connected").value(r.status.has_value());
    w.key("status");
    // Written again from what was read: a recorder's own text never reaches a browser.
    if (r.status) {
        w.raw(statusText(*r.status));
    } else {
        w.raw("null");
    }
    w.endObject();
    return w.text();
}

// A take's folder from a page is one name under the recording root.
bool oneName(const QString& folder) {
    return !folder.isEmpty() && folder != u"." && folder != u".." && !folder.contains(u'/') &&
           !folder.contains(u'\\');
}

}  // namespace

PageClients::PageClients(Recorders& r, QObject* parent) : QObject(parent), recorders(r) {
    connect(&recorders, &Recorders::updated, this, &PageClients::broadcast);
    connect(&recorders, &Recorders::forgotten, this,
            [this](int id) { send(QStringLiteral(R"({"type":"forget","id":%1})").arg(id)); });
}

PageClients::~PageClients() {
    for (const auto& c : clients) {
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
    }
}

void PageClients::attach(QWebSocket* socket) {
    if (!adopt(socket, clients.size(), maxClients, maxMessage, "page socket")) return;
    auto* client = clients.emplace_back(std::make_unique<Client>()).get();
    client->socket = socket;
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { received(*client, text); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { gone(socket); });
    for (const Recorders::Recorder& r : recorders.all())
        socket->sendTextMessage(QString::fromUtf8(recorderText(r)));
}

void PageClients::broadcast(int id) {
    const Recorders::Recorder* r = recorders.find(id);
    if (r && !clients.empty()) send(QString::fromUtf8(recorderText(*r)));
}

void PageClients::send(const QString& text) {
    for (const auto& c : clients)
        if (c->socket->bytesToWrite() < maxBacklog) c->socket->sendTextMessage(text);
}

void PageClients::received(Client& client, const QString& text) {
    if (!client.budget.take()) return;
    const auto message = jsonObject(text.toUtf8());
    if (!message) return;
    const auto type = json::text(*message, L("type"));
    if (type == u"recordAll") {
        recorders.recordAll(json::flag(*message, L("on")).value_or(false));
    } else if (type == u"command") {
        const auto to = json::smallInteger(*message, L("to"));
        const auto command = parseCommand(message->value(L("command")).toObject());
        if (!to || !command) return;
        if (command->folder && !oneName(*command->folder)) return;
        recorders.send(*to, *command);
    }
}

void PageClients::gone(QWebSocket* socket) {
    const auto at = std::find_if(clients.begin(), clients.end(),
                                 [socket](const auto& c) { return c->socket == socket; });
    if (at == clients.end()) return;
    clients.erase(at);
    socket->disconnect(this);
    socket->deleteLater();
}
