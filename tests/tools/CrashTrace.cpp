// Preloaded into OBS by the real-host checks (velkin-crash-trace.so): when OBS dies of a fatal signal, the stack of
// the thread that took it goes to standard error, with the place of each frame in its library, and the signal is
// then raised again as it came, so the exit status stays the signal's. The library is never unloaded, so a crash in
// code of a module that OBS has unloaded is traced too (as bare addresses).
#include <execinfo.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace {

void writeText(const char *text)
{
	(void)!write(STDERR_FILENO, text, strlen(text));
}

void traceAndDie(int signalNumber)
{
	writeText("==== OBS crashed: ");
	writeText(strsignal(signalNumber));
	writeText("\n");
	void *frames[64];
	backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
	writeText("==== end of the stack\n");
	signal(signalNumber, SIG_DFL);
	raise(signalNumber);
}

__attribute__((constructor)) void installCrashTrace()
{
	// The first call loads the unwinder, which must not happen inside the handler.
	void *frame[1];
	backtrace(frame, 1);
	const int fatal[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
	for (int signalNumber : fatal) {
		struct sigaction action {};
		action.sa_handler = traceAndDie;
		action.sa_flags = SA_RESETHAND | SA_NODEFER;
		sigaction(signalNumber, &action, nullptr);
	}
}

} // namespace
