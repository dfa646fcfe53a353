// Tests of descrips.
