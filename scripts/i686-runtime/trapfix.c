/* Preloaded into the i386 Wine loader that runs under qemu-i386 (scripts/setup-i686-runtime.sh).
 * qemu-user delivers fault signals with sigcontext.trapno = -1, and Wine's signal handlers take the
 * exception code from the trap number: every access violation would reach Windows code as an illegal
 * instruction. This wraps the handlers Wine installs for the fault signals and fills in the x86 trap
 * number from the signal and its si_code first; qemu's error code (read or write) is kept. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

typedef void (*handler_fn)(int, siginfo_t*, void*);
typedef int (*sigaction_fn)(int, const struct sigaction*, struct sigaction*);

static handler_fn handlers[NSIG];

static int is_fault(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGTRAP || sig == SIGILL;
}

static int trap_number(int sig, const siginfo_t* info)
{
    switch (sig) {
    case SIGSEGV:
        return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR ? 14 : 13;
    case SIGBUS:
        return 17;
    case SIGFPE:
        return info->si_code == FPE_INTDIV ? 0 : info->si_code == FPE_INTOVF ? 4 : 16;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? 1 : 3;
    default:
        return 6;
    }
}

static void with_trap_number(int sig, siginfo_t* info, void* context)
{
    greg_t* regs = ((ucontext_t*)context)->uc_mcontext.gregs;
    if (regs[REG_TRAPNO] < 0 || regs[REG_TRAPNO] > 31)
        regs[REG_TRAPNO] = trap_number(sig, info);
    handlers[sig](sig, info, context);
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old)
{
    static sigaction_fn next;
    handler_fn previous = sig > 0 && sig < NSIG ? handlers[sig] : NULL;
    int result;
    if (!next)
        next = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    if (act && (act->sa_flags & SA_SIGINFO) && is_fault(sig)) {
        struct sigaction wrapped = *act;
        handlers[sig] = act->sa_sigaction;
        wrapped.sa_sigaction = with_trap_number;
        result = next(sig, &wrapped, old);
    } else
        result = next(sig, act, old);
    /* The caller sees its own handler, never the wrapper. */
    if (old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == with_trap_number)
        old->sa_sigaction = previous;
    return result;
}
