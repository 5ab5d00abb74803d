#include "bridge/mqtt.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qelo::bridge {

namespace {

constexpr int kKeepAliveS = 30;
constexpr int kFirstRetryMs = 1000;
constexpr int kLongestRetryMs = 30000;
// A connection the broker closes sooner than this after taking it is a short
// one; longer than the longest retry, so that two clients that take the same
// id from each other at that pace still count as fighting.
constexpr int kSteadyMs = 2 * kLongestRetryMs;

std::string reason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    if (rc == MOSQ_ERR_KEEPALIVE) return "no answer within the keep-alive time";
    return mosquitto_strerror(rc);
}

bool isAddress(const std::string& host) {
    unsigned char ip[16];
    return ::inet_pton(AF_INET, host.c_str(), ip) == 1 || ::inet_pton(AF_INET6, host.c_str(), ip) == 1;
}

bool isNetworkErrno(int e) {
    return e == ECONNREFUSED || e == ECONNRESET || e == ETIMEDOUT || e == EHOSTUNREACH || e == ENETUNREACH ||
           e == ECONNABORTED;
}

// The last words of an OpenSSL error line ("error:0A000086:SSL routines::certificate verify failed").
std::string opensslWords(std::string_view line) {
    const auto colons = line.rfind(':');
    return std::string(colons == std::string_view::npos ? line : line.substr(colons + 1));
}

std::string verifyProblem(long v, const std::string& ca, const std::string& host) {
    const std::string words = X509_verify_cert_error_string(v);
    switch (v) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "the broker's certificate is not signed by the authority in " + ca + " (" + words + ")";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the broker's certificate is for another host than " + host + " (" + words + ")";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the broker's certificate is out of its dates (" + words + ")";
    default:
        return "the broker's certificate is not accepted (" + words + ")";
    }
}

// A key with a passphrase would make the TLS library ask on the terminal.
int noPassphrase(char*, int, int, void*) { return -1; }

std::string tlsFileProblem(const char* what, const std::string& file) {
    const unsigned long e = ERR_peek_last_error();
    std::string why = e ? ERR_reason_error_string(e) ? ERR_reason_error_string(e) : "unknown" : "unknown";
    ERR_clear_error();
    return "cannot use " + file + " as " + what + ": " + why;
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
    mosquitto_log_callback_set(m_, onLog);
    int rc = MOSQ_ERR_SUCCESS;
    if (!s_.username.empty())
        rc = mosquitto_username_pw_set(m_, s_.username.c_str(), s_.password.empty() ? nullptr : s_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !s_.tlsCa.empty() && !setUpTls(error)) return false;
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_will_set(m_, s_.willTopic.c_str(), 7, "offline", 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "cannot set the MQTT client up: " + reason(rc);
        return false;
    }
    return true;
}

// Our own TLS context, set up whole here: the client library's defaults
// check the broker's name in a callback that, on a context given to it, fails
// every certificate. Ours hears the TLS library's own words: its alerts, and
// the verification's result with the host checked by it. The files are read
// once, at start.
bool Mqtt::setUpTls(std::string& error) {
    const std::pair<const char*, const std::string*> files[] = {
        {"certificate authority", &s_.tlsCa}, {"client certificate", &s_.tlsCert}, {"client key", &s_.tlsKey}};
    for (const auto& [what, file] : files) {
        if (!file->empty() && ::access(file->c_str(), R_OK) != 0) {
            error = std::string("cannot read the ") + what + " file " + *file + ": " + std::strerror(errno);
            return false;
        }
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = tlsFileProblem("a TLS context", "memory");
        return false;
    }
    SSL_CTX_set_app_data(ctx, this);
    SSL_CTX_set_info_callback(ctx, onTlsInfo);
    SSL_CTX_set_default_passwd_cb(ctx, noPassphrase);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    if (isAddress(s_.host))
        X509_VERIFY_PARAM_set1_ip_asc(param, s_.host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, s_.host.c_str(), 0);
    std::string problem;
    if (SSL_CTX_load_verify_locations(ctx, s_.tlsCa.c_str(), nullptr) != 1)
        problem = tlsFileProblem("the broker's certificate authority", s_.tlsCa);
    else if (!s_.tlsCert.empty() && SSL_CTX_use_certificate_chain_file(ctx, s_.tlsCert.c_str()) != 1)
        problem = tlsFileProblem("the client certificate", s_.tlsCert);
    else if (!s_.tlsKey.empty() && (SSL_CTX_use_PrivateKey_file(ctx, s_.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
                                    SSL_CTX_check_private_key(ctx) != 1))
        problem = tlsFileProblem(("the key of " + s_.tlsCert + " (PEM, without a passphrase)").c_str(), s_.tlsKey);
    if (problem.empty() && (mosquitto_void_option(m_, MOSQ_OPT_SSL_CTX, ctx) != MOSQ_ERR_SUCCESS ||
                            mosquitto_int_option(m_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) != MOSQ_ERR_SUCCESS))
        problem = "cannot set TLS up: the MQTT library has no TLS";
    SSL_CTX_free(ctx);  // the client library holds its own reference
    error = problem;
    return problem.empty();
}

std::string Mqtt::where() const {
    const std::string host = s_.host.find(':') != std::string::npos ? "[" + s_.host + "]" : s_.host;
    return host + ":" + std::to_string(s_.port);
}

void Mqtt::complain(const std::string& why) {
    if (complaints_.insert(why).second) log_(why);
}

void Mqtt::start(Connected connected, Message message) {
    connected_ = std::move(connected);
    message_ = std::move(message);
    misc_.start();
    attempt();
}

void Mqtt::attempt() {
    if (stopping_) return;
    problem_.clear();
    refused_ = false;
    socketErrno_ = 0;
    // The client library would look the name up itself, on this thread, for
    // as long as a resolver takes to answer: every room's results would wait.
    if (!isAddress(s_.host) && next_ >= addresses_.size()) {
        lookup_ = QHostInfo::lookupHost(QString::fromStdString(s_.host), &retry_, [this](const QHostInfo& info) {
            run_([this, info] { resolved(info); });
        });
        return;
    }
    const std::string address = isAddress(s_.host) ? s_.host : addresses_[next_++];
    errno = 0;
    const int rc = mosquitto_connect_async(m_, address.c_str(), s_.port, kKeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) return lost(rc);
    watch();
    settle(MOSQ_ERR_SUCCESS);
}

void Mqtt::resolved(const QHostInfo& info) {
    lookup_ = -1;
    if (stopping_) return;
    addresses_.clear();
    next_ = 0;
    for (const QHostAddress& a : info.addresses()) addresses_.push_back(a.toString().toStdString());
    if (info.error() != QHostInfo::NoError || addresses_.empty()) {
        problem_ = "cannot find the host " + s_.host + ": " + info.errorString().toStdString();
        return lost(MOSQ_ERR_EAI);
    }
    attempt();
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
    if (std::string why; deadWhileConnecting(why)) {
        problem_ = why;
        return lost(MOSQ_ERR_CONN_LOST);
    }
    watch();
    if (write_) write_->setEnabled(mosquitto_want_write(m_));
}

bool Mqtt::hasInput() const {
    int pending = 0;
    return watched_ >= 0 && ::ioctl(watched_, FIONREAD, &pending) == 0 && pending > 0;
}

bool Mqtt::deadWhileConnecting(std::string& why) {
    if (up_ || s_.tlsCa.empty()) return false;
    const int fd = mosquitto_socket(m_);
    if (fd < 0) return false;
    // The library's write met the refusal first; what it tries after is EPIPE.
    if (!socketErrno_ && isNetworkErrno(errno)) socketErrno_ = errno;
    pollfd p{fd, POLLIN | POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & (POLLHUP | POLLERR))) return false;
    // What came before the end (an alert saying why) is the library's to read first.
    if (fd == watched_ && hasInput()) return false;
    int e = 0;
    socklen_t n = sizeof e;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &n);
    if (!e) e = socketErrno_;
    why = e ? std::strerror(e) : "the connection closed during the TLS handshake";
    return true;
}

void Mqtt::lost(int rc) {
    const int err = errno;  // the library's, for its MOSQ_ERR_ERRNO
    unwatch();
    if (stopping_) return finishStop();
    // The name's next address first, at once; the pace is for the name.
    if (!up_ && next_ < addresses_.size() && problem_.empty() && !refused_) {
        retry_.start(0);
        return;
    }
    if (up_) next_ = addresses_.size();  // found again for the next connection
    errno = err;
    std::string why = problem_.empty() ? reason(rc) : problem_;
    // A broker that refuses a client's certificate (or its lack) may reset
    // the connection before its alert is read: the library writes on at once.
    if (problem_.empty() && !s_.tlsCa.empty() && !up_ && rc == MOSQ_ERR_ERRNO &&
        (err == EPROTO || err == ECONNRESET))
        why = "the broker ended the TLS connection as it began; " +
              (s_.tlsCert.empty() ? "if it asks for a client certificate: --tls-cert and --tls-key"
                                  : "it may not accept the client certificate " + s_.tlsCert);
    const bool wasUp = up_;
    up_ = false;
    if (wasUp) {
        // A broker gives a client's connection to the next one with its id and
        // just closes the first: two bridges with one topic take it from each
        // other for ever. Say so once, and fight no faster than the longest retry.
        const bool brief = rc == MOSQ_ERR_CONN_LOST && upSince_.elapsed() < kSteadyMs;
        shortDrops_ = brief ? shortDrops_ + 1 : 0;
        if (!brief) {
            takenOver_ = false;
            backoffMs_ = 0;
        }
        if (shortDrops_ >= 2 && !takenOver_) {
            takenOver_ = true;
            log_("the broker at " + where() + " keeps closing the connection soon after taking it: most likely "
                 "another client with the id " + s_.clientId + " (another bridge with the same --topic) takes it "
                 "over; trying again every " + std::to_string(kLongestRetryMs / 1000) + " s");
        }
        if (!takenOver_) log_("lost the broker at " + where() + " (" + why + "); connecting again");
        if (takenOver_) backoffMs_ = kLongestRetryMs;
    } else if (!refused_) {
        shortDrops_ = 0;
        complain("cannot reach the broker at " + where() + " (" + why + "); trying again until it answers");
    }
    // Back off so that a broker coming back is not met by every client at once.
    backoffMs_ = backoffMs_ ? std::min(backoffMs_ * 2, kLongestRetryMs) : kFirstRetryMs;
    retry_.start(backoffMs_);
}

void Mqtt::onConnect(mosquitto*, void* self, int rc) {
    auto* me = static_cast<Mqtt*>(self);
    if (rc != 0) {
        // The broker closes the connection next; say why it refused once.
        me->complain("the broker at " + me->where() + " refused the connection: " + mosquitto_connack_string(rc));
        me->refused_ = true;
        return;
    }
    me->up_ = true;
    me->upSince_.start();
    me->complaints_.clear();
    if (!me->takenOver_) {
        me->backoffMs_ = 0;
        me->log_("connected to the broker at " + me->where());
    }
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

void Mqtt::onLog(mosquitto*, void* self, int level, const char* text) {
    auto* me = static_cast<Mqtt*>(self);
    // The TLS library's reason, when its alert did not say more.
    if (level == MOSQ_LOG_ERR && me->problem_.empty() && std::string_view(text).starts_with("OpenSSL Error"))
        me->problem_ = "TLS: " + opensslWords(text);
}

void Mqtt::onTlsInfo(const ssl_st* ssl, int where, int ret) {
    auto* me = static_cast<Mqtt*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!me) return;
    // The client library named the address it was given; the broker's name
    // is what a server in front of several brokers chooses by.
    if ((where & SSL_CB_HANDSHAKE_START) && !isAddress(me->s_.host))
        SSL_set_tlsext_host_name(const_cast<ssl_st*>(ssl), me->s_.host.c_str());
    if (!(where & SSL_CB_ALERT) || (ret & 0xff) == SSL3_AD_CLOSE_NOTIFY || !me->problem_.empty()) return;
    const long verify = SSL_get_verify_result(ssl);
    // TLS 1.3's "certificate required" is "unknown" to OpenSSL 3.0's table.
    const std::string alert = (ret & 0xff) == 116 ? "certificate required" : SSL_alert_desc_string_long(ret);
    if (where & SSL_CB_WRITE) {
        me->problem_ = verify != X509_V_OK ? verifyProblem(verify, me->s_.tlsCa, me->s_.host)
                                              : "TLS: this end gave up: " + alert;
    } else if (ret & 0xff) {
        const int code = ret & 0xff;
        std::string hint;
        if (code == 116 /* certificate required */ || code == SSL3_AD_HANDSHAKE_FAILURE)
            hint = me->s_.tlsCert.empty() ? std::string("; it ") + (code == 116 ? "wants" : "may want") +
                                                " a client certificate: --tls-cert and --tls-key"
                                          : "";
        else if (code == TLS1_AD_UNKNOWN_CA || code == SSL3_AD_BAD_CERTIFICATE ||
                 code == SSL3_AD_CERTIFICATE_UNKNOWN)
            hint = me->s_.tlsCert.empty() ? "" : "; it does not accept the client certificate " + me->s_.tlsCert;
        me->problem_ = "the broker refused TLS: " + alert + hint;
    }
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
    if (lookup_ >= 0) QHostInfo::abortHostLookup(lookup_);
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
