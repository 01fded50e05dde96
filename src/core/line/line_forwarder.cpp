#include "core/line/line_forwarder.h"

#include <algorithm>

#include "core/line/line_database.h"

namespace korvan {

LineForwarder::LineForwarder(std::filesystem::path folder, std::string url,
                             std::function<void(const LineNotice&)> notice,
                             LineForwarderOptions options)
    : folder_(std::move(folder)),
      url_(std::move(url)),
      notice_(std::move(notice)),
      options_(options) {}

LineForwarder::~LineForwarder() {
  Stop();
}

bool LineForwarder::Start(std::string* error) {
  store_ = RecordStore::Open(folder_, error);
  if (!store_) return false;
  stationId_ = store_->stationId();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void LineForwarder::Wake() {
  std::lock_guard lock(mutex_);
  ++wakes_;
  changed_.notify_all();
}

bool LineForwarder::Flush(std::chrono::milliseconds limit) {
  return Flush(limit, nullptr);
}

bool LineForwarder::Flush(std::chrono::milliseconds limit, std::optional<std::size_t>* waiting) {
  if (waiting) waiting->reset();
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) return false;
  const std::uint64_t wake = ++wakes_;
  ++flushes_;
  changed_.notify_all();
  changed_.wait_for(lock, limit,
                    [&] { return stop_ || emptyAfter_ >= wake || failedAfter_ >= wake; });
  if (emptyAfter_ >= wake) return true;
  if (waiting && failedAfter_ >= wake) *waiting = failedWaiting_;
  return false;
}

void LineForwarder::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

std::uint64_t LineForwarder::forwarded() const {
  std::lock_guard lock(mutex_);
  return forwarded_;
}

bool LineForwarder::reachable() const {
  std::lock_guard lock(mutex_);
  return !unreachable_;
}

void LineForwarder::Run() {
  std::chrono::milliseconds retry = options_.retryMin;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const std::uint64_t wakes = wakes_;
    const std::uint64_t flushes = flushes_;
    lock.unlock();
    const PassResult result = Pass();
    lock.lock();
    switch (result) {
      case PassResult::More:
        retry = options_.retryMin;
        break;
      case PassResult::Empty:
        retry = options_.retryMin;
        emptyAfter_ = std::max(emptyAfter_, wakes);
        changed_.notify_all();
        changed_.wait_for(lock, options_.poll, [&] { return stop_ || wakes_ != wakes; });
        break;
      case PassResult::Failed:
        failedAfter_ = std::max(failedAfter_, wakes);
        failedWaiting_ = passWaiting_;
        changed_.notify_all();
        // Only a flush cuts the pause short; new records wait for the next try.
        changed_.wait_for(lock, retry, [&] { return stop_ || flushes_ != flushes; });
        retry = std::min(retry * 2, options_.retryMax);
        break;
    }
  }
}

LineForwarder::PassResult LineForwarder::Pass() {
  std::string error;
  // A failure past the connection leaves a batch, or a store that cannot be read, waiting.
  passWaiting_.reset();
  if (!db_) {
    db_ = LineDatabase::Connect(url_, &error);
    if (!db_) {
      passWaiting_ = store_->CountUnforwarded();
      Report(LineNotice::Kind::Unreachable, error);
      return PassResult::Failed;
    }
    Report(LineNotice::Kind::Reachable, "");
  }
  const std::vector<StoredRecord> batch = store_->Unforwarded(options_.batch);
  if (batch.empty()) return PassResult::Empty;
  if (!db_->Insert(store_->stationId(), batch, &error)) {
    // Connected again on the next try; what was committed by then is not inserted twice.
    db_.reset();
    Report(LineNotice::Kind::Unreachable, error);
    return PassResult::Failed;
  }
  if (!store_->MarkForwarded(batch.back().rowId, &error)) {
    Report(LineNotice::Kind::StoreFailed, error);
    return PassResult::Failed;
  }
  {
    std::lock_guard lock(mutex_);
    forwarded_ += batch.size();
    storeFailed_ = false;
  }
  return batch.size() < options_.batch ? PassResult::Empty : PassResult::More;
}

void LineForwarder::Report(LineNotice::Kind kind, const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    switch (kind) {
      case LineNotice::Kind::Unreachable:
        if (unreachable_) return;
        unreachable_ = true;
        break;
      case LineNotice::Kind::Reachable:
        if (!unreachable_) return;
        unreachable_ = false;
        break;
      case LineNotice::Kind::StoreFailed:
        if (storeFailed_) return;
        storeFailed_ = true;
        break;
    }
  }
  LineNotice notice;
  notice.kind = kind;
  // A store that cannot be counted is not said to hold nothing.
  const auto count = store_->CountUnforwarded();
  notice.pending = count;
  const std::string waiting =
      count ? std::to_string(*count) + " production record" + (*count == 1 ? "" : "s") + " waiting"
            : "production records waiting (how many could not be read from the station's store)";
  switch (kind) {
    case LineNotice::Kind::Unreachable:
      notice.text = "Line database unreachable (" + text +
                    "); the station goes on, its records are kept here until it is back (" +
                    waiting + ").";
      break;
    case LineNotice::Kind::Reachable:
      notice.text = "Line database " + LineDatabaseName(url_) + " reachable again; " + waiting +
                    " go out now.";
      break;
    case LineNotice::Kind::StoreFailed:
      notice.text =
          "Production records forwarded but not marked so in the station's store: " + text +
          " (they are sent again; the line database keeps them once).";
      break;
  }
  if (notice_) notice_(notice);
}

}  // namespace korvan
