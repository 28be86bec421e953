import launcher from './launcher.js';

export const launch = launcher.launch;
export const READY_PREFIX = launcher.READY_PREFIX;
export default launcher;
