#pragma once
// The COM error that a caller raises from a failing HRESULT and catches in its own
// guard around COM work. It never leaves the module that raises it.
#include "platform/com/types.h"
#include "platform/com/unknown.h"

class ComError {
public:
    ComError(HRESULT hr, IUnknown* source, REFIID iid) : hr_(hr), source_(source), iid_(iid) {}
    explicit ComError(HRESULT hr) : ComError(hr, nullptr, IID_NULL) {}

    HRESULT Error() const { return hr_; }
    // The object and interface that failed; no reference is held.
    IUnknown* Source() const { return source_; }
    const IID& Interface() const { return iid_; }

private:
    HRESULT hr_;
    IUnknown* source_;
    IID iid_;
};

[[noreturn]] inline void comIssueError(HRESULT hr) { throw ComError(hr); }
[[noreturn]] inline void comIssueErrorEx(HRESULT hr, IUnknown* source, REFIID iid) { throw ComError(hr, source, iid); }
// Raises unless hr succeeded.
inline void comCheck(HRESULT hr, IUnknown* source, REFIID iid) {
    if (FAILED(hr)) comIssueErrorEx(hr, source, iid);
}
