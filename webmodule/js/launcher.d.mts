// Types of launcher.mjs: those of launcher.d.ts, and the module as the
// default export.
import * as Launcher from './launcher.js';
export * from './launcher.js';
export default Launcher;
