"""Where a flight's track is split: its nadir records are joined in order,
except across a jump.

Nadir records come about every 20th of a second, one per fitted line whose
sigma is below 3.0, so a rough or open stretch leaves gaps of a few seconds
that a line may bridge. A jump is a gap the aircraft cannot have flown
straight: more than 10 seconds without a record (the scanner stopped, or two
flights in one file), time going back (other than past midnight), or a
distance further than 150 m/s (faster than survey aircraft fly) would cover
in the time between, with 100 m to spare for records close in time. A record
whose position is not a number breaks the track too."""

import numpy as np

GAP_SECONDS = 10.0
SPEED_LIMIT = 150.0  # metres per second
DISTANCE_SLACK = 100.0  # metres
# The flat earth of scanfit's ground distances.
METRES_PER_DEGREE = 111120.0


def track_pieces(hours, latitude, longitude):
    """(first, last) record of every piece of two records or more, as arrays."""
    count = len(hours)
    if count < 2:
        return np.zeros(0, np.int64), np.zeros(0, np.int64)
    seconds = ((np.diff(hours) + 12.0) % 24.0 - 12.0) * 3600.0
    north = np.diff(latitude)
    mean_latitude = np.radians((latitude[1:] + latitude[:-1]) / 2)
    east = np.diff(longitude) * np.cos(mean_latitude)
    metres = METRES_PER_DEGREE * np.hypot(north, east)
    with np.errstate(invalid='ignore'):
        joined = ((seconds >= 0) & (seconds <= GAP_SECONDS)
                  & (metres <= DISTANCE_SLACK + SPEED_LIMIT * seconds))
    breaks = np.flatnonzero(~joined) + 1
    first = np.concatenate(([0], breaks))
    last = np.concatenate((breaks - 1, [count - 1]))
    keep = last > first
    return first[keep], last[keep]
