// Tests of version.
