// Tests of xtostats.
