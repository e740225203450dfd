// The host clock's synchronisation state as the Linux kernel reports it
// (ntp_adjtime), read by a pure function so that each answer of the kernel
// can be checked without a kernel in that state.
#pragma once

// From what ntp_adjtime returned (`result`: the clock state, TIME_OK..
// TIME_ERROR, or -1) and the `status` bits and `esterror` of its timex
// record: false when the call failed; else whether the clock is
// synchronised (neither TIME_ERROR nor STA_UNSYNC) and its estimated error.
bool clock_sync_from_kernel(int result, int status, long esterror, bool& synchronised,
                            long& estimated_error_us);
