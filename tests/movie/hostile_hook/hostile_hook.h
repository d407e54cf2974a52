#pragma once

// What the preloaded hostile hook and the test that preloads it share: where the hook finds its
// targets, and the exit codes it ends the worker with.

/// The environment the hook reads its targets from.
inline constexpr const char* hookSocketPathVariable = "TAGRELAY_HOOK_SOCKET";
inline constexpr const char* hookAbstractNameVariable = "TAGRELAY_HOOK_ABSTRACT";
inline constexpr const char* hookPortVariable = "TAGRELAY_HOOK_PORT";
inline constexpr const char* hookTargetPidVariable = "TAGRELAY_HOOK_TARGET";
/// Set: the hook hangs the worker instead.
inline constexpr const char* hookHangVariable = "TAGRELAY_HOOK_HANG";

/// The attempts, in the order they are made and numbered in the exit code.
enum HookAttempt {
    HoldsRootIds,
    HoldsCapabilities,
    ConnectsToRootsSocket,
    ConnectsToAbstractSocket,
    ConnectsToLoopback,
    LowersAnothersLimits,
    LowersAnothersPriority,
    SchedulesAnother,
    SignalsAnother,
    RenamesTheHost,
    ReadsTheKernelLog,
    ReadsTheShadowFile,
    hookAttemptCount
};

/// Every attempt was refused.
inline constexpr int hookAllRefused = 63;
/// hookFirstSuccess + a HookAttempt: the first attempt that worked.
inline constexpr int hookFirstSuccess = 64;
