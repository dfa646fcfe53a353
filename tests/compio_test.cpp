// Tests of compio.
