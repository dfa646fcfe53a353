// Tests of outputts.
