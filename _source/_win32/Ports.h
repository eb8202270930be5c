#pragma once
// The seam of a subsystem: the operating-system calls (and the few outlets, such as the
// event records) that a test must be able to steer, gathered in one struct of plain
// function pointers per subsystem, for example
//
//   struct CountermeasurePorts { MoveFileExFn moveFileEx; ReportFn report; ... };
//   extern Corvane::Orlin::Ports<CountermeasurePorts> countermeasurePorts;
//   ...
//   countermeasurePorts().moveFileEx(from, to, flags);        // the code calls through it
//
// A test swaps the whole struct for the length of a scope and gets the real one back at
// scope exit, also when the test fails half-way:
//
//   CountermeasurePorts fake = countermeasurePorts.real();
//   fake.report = &RecordSink::report;
//   Corvane::Orlin::Ports<CountermeasurePorts>::Override scope(countermeasurePorts, fake);
//
// Thread safety: the set in force is one atomic pointer, so a call on any thread sees
// either the old set or the new one, never a mix. An override must outlive every call
// made through it: end the threads that use it before the scope ends.
// Portable C++: no Windows header, so the native build can use it too.

#include <atomic>

namespace Corvane { namespace Orlin {

template <typename PortSet>
class Ports {
public:
    explicit Ports(const PortSet& real) noexcept : _real(real), _current(&_real) {}
    Ports(const Ports&) = delete;
    Ports& operator=(const Ports&) = delete;

    // The set in force now.
    const PortSet& operator()() const noexcept { return *_current.load(std::memory_order_acquire); }
    // The set of the real system calls, whatever is in force.
    const PortSet& real() const noexcept { return _real; }

    // Puts `replacement` in force until the end of its scope, then the set that was in
    // force before it (overrides nest).
    class Override {
    public:
        Override(Ports& ports, const PortSet& replacement) noexcept
            : _ports(ports), _previous(ports._current.exchange(&replacement, std::memory_order_acq_rel))
        {
        }
        // The set in force is read through a pointer: a temporary would be gone at once.
        Override(Ports& ports, const PortSet&& replacement) = delete;
        ~Override() { _ports._current.store(_previous, std::memory_order_release); }
        Override(const Override&) = delete;
        Override& operator=(const Override&) = delete;

    private:
        Ports& _ports;
        const PortSet* _previous;
    };

private:
    const PortSet _real;
    std::atomic<const PortSet*> _current;
};

}} // namespace Corvane::Orlin
