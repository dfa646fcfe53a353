// Tests of jobbuild.
