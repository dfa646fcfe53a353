// Tests of intermed.
