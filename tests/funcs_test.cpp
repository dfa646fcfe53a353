// Tests of funcs.
