// Tests of options.
