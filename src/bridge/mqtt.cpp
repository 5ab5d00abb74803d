#include "bridge/mqtt.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qelo::bridge {

namespace {

constexpr int kKeepAliveS = 30;
constexpr int kFirstRetryMs = 1000;
constexpr int kLongestRetryMs = 30000;

std::string reason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

}  // namespace

Mqtt::Mqtt(MqttSettings settings, Log log, Runner runner)
    : s_(std::move(settings)), log_(std::move(log)), run_(std::move(runner)) {
    mosquitto_lib_init();
    misc_.setInterval(1000);
    QObject::connect(&misc_, &QTimer::timeout, [this] {
        run_([this] {
            if (watched_ >= 0) settle(mosquitto_loop_misc(m_));
        });
    });
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, [this] { run_([this] { attempt(); }); });
    stopDeadline_.setSingleShot(true);
    QObject::connect(&stopDeadline_, &QTimer::timeout, [this] { run_([this] { finishStop(); }); });
}

Mqtt::~Mqtt() {
    unwatch();
    if (m_) mosquitto_destroy(m_);
    mosquitto_lib_cleanup();
}

bool Mqtt::setUp(std::string& error) {
    m_ = mosquitto_new(s_.clientId.c_str(), true, this);
    if (!m_) {
        error = std::string("cannot make an MQTT client: ") + std::strerror(errno);
        return false;
    }
    mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_, onConnect);
    mosquitto_message_callback_set(m_, onMessage);
    mosquitto_publish_callback_set(m_, onPublish);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s_.username.empty())
        rc = mosquitto_username_pw_set(m_, s_.username.c_str(), s_.password.empty() ? nullptr : s_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !s_.tlsCa.empty()) {
        // The library only says its arguments were wrong.
        if (::access(s_.tlsCa.c_str(), R_OK) != 0) {
            error = "cannot read the certificate authority file " + s_.tlsCa + ": " + std::strerror(errno);
            return false;
        }
        rc = mosquitto_tls_set(m_, s_.tlsCa.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "cannot use " + s_.tlsCa + " as the broker's certificate authority: " + reason(rc);
            return false;
        }
    }
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_will_set(m_, s_.willTopic.c_str(), 7, "offline", 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "cannot set the MQTT client up: " + reason(rc);
        return false;
    }
    return true;
}

void Mqtt::start(Connected connected, Message message) {
    connected_ = std::move(connected);
    message_ = std::move(message);
    misc_.start();
    attempt();
}

void Mqtt::attempt() {
    if (stopping_) return;
    const int rc = first_ ? mosquitto_connect_async(m_, s_.host.c_str(), s_.port, kKeepAliveS)
                          : mosquitto_reconnect_async(m_);
    first_ = false;
    if (rc != MOSQ_ERR_SUCCESS) return lost(rc);
    watch();
    settle(MOSQ_ERR_SUCCESS);
}

void Mqtt::watch() {
    const int fd = mosquitto_socket(m_);
    if (fd == watched_) return;
    unwatch();
    if (fd < 0) return;
    watched_ = fd;
    read_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(read_.get(), &QSocketNotifier::activated, [this] {
        run_([this] { settle(mosquitto_loop_read(m_, 1)); });
    });
    write_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    write_->setEnabled(false);
    QObject::connect(write_.get(), &QSocketNotifier::activated, [this] {
        run_([this] { settle(mosquitto_loop_write(m_, 1)); });
    });
}

void Mqtt::unwatch() {
    read_.reset();
    write_.reset();
    watched_ = -1;
}

void Mqtt::settle(int rc) {
    if (rc != MOSQ_ERR_SUCCESS) return lost(rc);
    watch();
    if (write_) write_->setEnabled(mosquitto_want_write(m_));
}

void Mqtt::lost(int rc) {
    unwatch();
    if (stopping_) return finishStop();
    const std::string where = s_.host + ":" + std::to_string(s_.port);
    if (up_) {
        log_("lost the broker at " + where + " (" + reason(rc) + "); connecting again");
    } else if (!complained_) {
        log_("cannot reach the broker at " + where + " (" + reason(rc) + "); trying again until it answers");
        complained_ = true;
    }
    up_ = false;
    // Back off so that a broker coming back is not met by every client at once.
    backoffMs_ = backoffMs_ ? std::min(backoffMs_ * 2, kLongestRetryMs) : kFirstRetryMs;
    retry_.start(backoffMs_);
}

void Mqtt::onConnect(mosquitto*, void* self, int rc) {
    auto* me = static_cast<Mqtt*>(self);
    if (rc != 0) {
        // The broker closes the connection next; say why it refused once.
        if (!me->complained_) {
            me->log_("the broker at " + me->s_.host + ":" + std::to_string(me->s_.port) +
                     " refused the connection: " + mosquitto_connack_string(rc));
            me->complained_ = true;
        }
        return;
    }
    me->up_ = true;
    me->complained_ = false;
    me->backoffMs_ = 0;
    me->log_("connected to the broker at " + me->s_.host + ":" + std::to_string(me->s_.port));
    me->connected_();
}

void Mqtt::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* me = static_cast<Mqtt*>(self);
    const std::string payload(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    me->message_(m->topic, payload, m->retain);
}

void Mqtt::onPublish(mosquitto*, void* self, int mid) {
    auto* me = static_cast<Mqtt*>(self);
    // Not from inside the library's call: it holds its locks there.
    if (me->stopping_ && mid == me->offlineMid_) me->stopDeadline_.start(0);
}

void Mqtt::publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!up_) return;
    const int rc = mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                     retain);
    // A lost connection shows on the socket too; the reconnect says it all again.
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
        if (rc == MOSQ_ERR_SUCCESS && write_) write_->setEnabled(mosquitto_want_write(m_));
        return;
    }
    log_("cannot publish to " + topic + ": " + reason(rc));
}

void Mqtt::subscribe(const std::string& pattern) {
    const int rc = mosquitto_subscribe(m_, nullptr, pattern.c_str(), 1);
    if (rc != MOSQ_ERR_SUCCESS) log_("cannot subscribe to " + pattern + ": " + reason(rc));
}

void Mqtt::stop(int ms, std::function<void()> done) {
    done_ = std::move(done);
    stopping_ = true;
    retry_.stop();
    if (!up_) return finishStop();
    const int rc = mosquitto_publish(m_, &offlineMid_, s_.willTopic.c_str(), 7, "offline", 1, true);
    if (rc != MOSQ_ERR_SUCCESS) return finishStop();
    settle(MOSQ_ERR_SUCCESS);
    stopDeadline_.start(ms);
}

void Mqtt::finishStop() {
    if (!done_) return;
    stopDeadline_.stop();
    misc_.stop();
    if (up_) {
        up_ = false;
        mosquitto_disconnect(m_);
        // The DISCONNECT goes now: the event loop ends next.
        if (mosquitto_want_write(m_)) mosquitto_loop_write(m_, 1);
    }
    unwatch();
    auto done = std::move(done_);
    done_ = nullptr;
    done();
}

}  // namespace qelo::bridge
