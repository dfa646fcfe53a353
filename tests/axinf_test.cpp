// Tests of axinf.
