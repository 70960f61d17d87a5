#include "tracer.h"

#include <cstdio>
#include <thread>
#include <unistd.h>

namespace vostrelle::sim {

namespace {

constexpr std::size_t backlog = 10000;

std::string hex_bytes(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    char byte[4];
    for (const auto b : bytes) {
        (void)std::snprintf(byte, sizeof byte, "%02X ", b);
        text += byte;
    }
    return text;
}

void write_all(const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

tracer::tracer()
{
    // Never joined: at exit a printer stuck on a full pipe just ends.
    std::thread([q = queue_] { print_forever(q); }).detach();
}

void tracer::take(const exchange &e)
{
    const double ms = std::chrono::duration<double, std::milli>(e.at - start_).count();
    char line[256];
    (void)std::snprintf(line, sizeof line, "%12.3f ms  %s  %-12s %s\n", ms,
                        e.from_driver ? "host -> board" : "board -> host", hex_bytes(e.bytes).c_str(),
                        e.meaning.c_str());
    std::lock_guard lock(queue_->mutex);
    if (queue_->lines.size() >= backlog) {
        ++queue_->dropped;
        return;
    }
    queue_->lines.emplace_back(line);
    queue_->queued.notify_one();
}

void tracer::print_forever(const std::shared_ptr<queue> &q)
{
    for (;;) {
        std::string text;
        {
            std::unique_lock lock(q->mutex);
            q->queued.wait(lock, [&] { return !q->lines.empty(); });
            if (q->dropped > 0) {
                text = "(" + std::to_string(q->dropped) + " exchanges not shown: the output fell behind)\n";
                q->dropped = 0;
            }
            for (; !q->lines.empty(); q->lines.pop_front())
                text += q->lines.front();
        }
        write_all(text);
    }
}

} // namespace vostrelle::sim
