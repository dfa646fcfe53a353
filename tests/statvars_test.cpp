// Tests of statvars.
