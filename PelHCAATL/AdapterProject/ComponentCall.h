#pragma once
// One component function's call: reads its parameters from the map in order, checks
// that the keys were there, runs the method inside the error guard and turns the
// result into the answer. Every parameter string is wiped and released when the call
// object goes, on every path.
#include <cstdint>

#include "ComponentBridge.h"
#include "Json.h"

class ComponentCall {
public:
    ComponentCall(const KestrovanJsonMap* map, const char* logName, const char* method);
    ~ComponentCall();
    ComponentCall(const ComponentCall&) = delete;
    ComponentCall& operator=(const ComponentCall&) = delete;

    // Switches missing-key reporting on and clears the last error code.
    void beginKeys();
    // A text parameter (UTF-16 COM string; empty when the key is missing).
    BSTR text(const char* key);
    // A string parameter in the ANSI code page, as a VARIANT passed by value.
    VARIANT ansi(const char* key);
    // A number parameter ("true" 1, "false" 0, else decimal; missing 0).
    LONG number(const char* key);
    // Switches reporting off. False when a key was missing and AdapterJsonKeyCheck is
    // "true": the answer is then the error code and the component is not called.
    bool endKeys();

    // Runs body(component) inside the error guard; line names the call site in the
    // safe-line report.
    template <typename Body>
    void invoke(int line, Body body) {
        ready();
        try {
            if (outOfMemory_) comIssueError(E_OUTOFMEMORY);
            body(componentInterface());
            finish();
        } catch (const ComError&) {
            reportComponentException(logName_, line);
        }
    }

    // Result forms. Each takes what the method returned, raises the COM error when hr
    // failed, and otherwise sets the answer.
    void answerText(HRESULT hr, BSTR result, IPelHCAATL* source);
    void answerNumber(HRESULT hr, LONG result, IPelHCAATL* source);
    void answerList(HRESULT hr, VARIANT* result, IPelHCAATL* source);
    void answerNone(HRESULT hr, IPelHCAATL* source);

private:
    void ready();
    void finish();
    void raiseIfFailed(HRESULT hr, IPelHCAATL* source);

    static constexpr int kMaxTexts = 8;
    const KestrovanJsonMap* map_;
    const char* logName_;
    const char* method_;
    BSTR texts_[kMaxTexts] = {};
    int textCount_ = 0;
    VARIANT ansi_;
    bool outOfMemory_ = false;
};
