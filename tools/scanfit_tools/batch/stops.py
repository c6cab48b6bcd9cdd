"""Stops: SIGINT, SIGTERM and SIGHUP end a campaign. The first one is
remembered and handed on; the campaign then ends its runs, writes what it
knows and exits with 128 + the signal's number."""

import os
import signal

SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class Stop:
    """The stop signal received, if any, and the process it is handed on to.
    GNU parallel gets SIGINT whatever came: it takes SIGINT from its start,
    whereas it ignores SIGTERM until its first job runs."""

    def __init__(self):
        self.signal = None
        self.target = None
        self.target_signal = signal.SIGINT
        for number in SIGNALS:
            signal.signal(number, self._received)

    def _received(self, number, _frame):
        if self.signal is None:
            self.signal = number
            self._hand_on()

    def _hand_on(self):
        if self.target is not None:
            try:
                os.kill(self.target, self.target_signal)
            except ProcessLookupError:
                pass

    def watch(self, pid, handed_signal=signal.SIGINT):
        """Hands a stop on to this process, also one that came before it ran."""
        self.target, self.target_signal = pid, handed_signal
        if self.signal is not None:
            self._hand_on()

    def release(self):
        self.target = None

    @property
    def status(self):
        return 128 + self.signal
