#include "server/RequestReader.h"

#include "core/Env.h"
#include "server/Target.h"

#include <QStringDecoder>

namespace hb::server {
namespace {

constexpr QByteArrayView kHeaderEnd("\r\n\r\n");

bool isSpaceSeparator(QChar c) {
    return c.isSpace() && c != u'\n' && c != u'\r';
}

QString trimmedBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceSeparator(text[begin]))
        ++begin;
    while (end > begin && isSpaceSeparator(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QStringList splitCrLf(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    while (true) {
        const qsizetype at = text.indexOf(QStringLiteral("\r\n"), start);
        if (at < 0) {
            lines.append(text.sliced(start));
            return lines;
        }
        lines.append(text.sliced(start, at - start));
        start = at + 2;
    }
}

} // namespace

std::optional<std::int64_t> readContentLength(const QString& value, bool& overflow) {
    overflow = false;
    const auto parsed = env::parseInt64(value);
    if (parsed)
        return parsed;
    // Distinguish "not a number" (counts as 0) from a number too large for 64 bits (refused).
    qsizetype i = (value.startsWith(u'+') || value.startsWith(u'-')) ? 1 : 0;
    bool digits = i < value.size();
    for (; i < value.size(); ++i)
        digits = digits && value[i].unicode() >= u'0' && value[i].unicode() <= u'9';
    overflow = digits;
    return std::nullopt;
}

RequestReader::RequestReader(qsizetype maxHeaderBytes, qsizetype maxBodyBytes)
    : maxHeaderBytes_(maxHeaderBytes), maxBodyBytes_(maxBodyBytes) {}

RequestReader::State RequestReader::feed(QByteArrayView bytes) {
    if (state_ != State::Incomplete)
        return state_;
    buffer_.append(bytes.data(), bytes.size());
    if (headerEnd_ < 0) {
        // Resume the search where the last one stopped (minus a partial terminator).
        const qsizetype found = buffer_.indexOf(kHeaderEnd, std::max<qsizetype>(0, scanFrom_ - 3));
        if (found < 0) {
            scanFrom_ = buffer_.size();
            if (buffer_.size() > maxHeaderBytes_)
                state_ = State::HeaderTooLarge;
            return state_;
        }
        if (found > maxHeaderBytes_)
            return state_ = State::HeaderTooLarge;
        headerEnd_ = found;
        state_ = parseHeaderBlock();
        if (state_ != State::Incomplete)
            return state_;
    }
    return state_ = completeIfBodyArrived();
}

RequestReader::State RequestReader::parseHeaderBlock() {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(buffer_).first(headerEnd_));
    if (decoder.hasError())
        text.clear(); // an undecodable header block counts as empty

    const QStringList lines = splitCrLf(text);
    const QStringList words = lines.first().split(u' ', Qt::SkipEmptyParts);
    if (!words.isEmpty())
        request_.method = words[0];
    const Target target = parseTarget(words.size() > 1 ? words[1].toUtf8() : QByteArrayLiteral("/"));
    request_.path = target.path;
    request_.query = target.query;

    contentLength_ = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QString name = trimmedBlanks(QStringView(line).first(colon)).toLower();
        const QString value = trimmedBlanks(QStringView(line).sliced(colon + 1));
        request_.headers.insert(name, value);
        if (name == QStringLiteral("content-length")) {
            bool overflow = false;
            const auto length = readContentLength(value, overflow);
            if (overflow)
                return State::BadLength;
            contentLength_ = length.value_or(0);
        }
    }
    if (contentLength_ < 0)
        return State::BadLength;
    if (contentLength_ > maxBodyBytes_)
        return State::BodyTooLarge;
    return State::Incomplete;
}

RequestReader::State RequestReader::completeIfBodyArrived() {
    const qsizetype bodyStart = headerEnd_ + kHeaderEnd.size();
    if (buffer_.size() - bodyStart < contentLength_)
        return State::Incomplete;
    request_.body = buffer_.mid(bodyStart, qsizetype(contentLength_));
    endedCleanly_ = buffer_.size() - bodyStart == contentLength_ &&
                    !request_.headers.contains(QStringLiteral("transfer-encoding"));
    buffer_.clear();
    buffer_.squeeze();
    return State::Complete;
}

} // namespace hb::server
